#include "compiler.h"

#include <pthread.h>

#include <new>
#include <optional>

#include "codegen.h"
#include "ir/lowering.h"
#include "ir/ssa.h"
#include "lexer.h"
#include "llvm_backend.h"
#include "optimizer.h"
#include "parser.h"
#include "semantics.h"
#include "wasm_gen.h"

namespace ovra {

namespace {

// Every stage walks the tree recursively, and an operator chain of N terms is a tree N levels
// deep. The pipeline therefore runs on a thread whose stack is large enough for the deepest tree
// the parser accepts; only the pages actually touched are ever committed.
constexpr std::size_t kPipelineStackBytes = std::size_t{4} << 30;

Result<std::string> run_back_end(CompileTarget target, const Program& program) {
  switch (target) {
    case CompileTarget::JavaScript:
    case CompileTarget::TypeScript:
      return CodeGenerator(target).generate(program);
    case CompileTarget::Wasm:
      return generate_wasm_module(program);
    case CompileTarget::Llvm: {
      IrModule ir = lower_program(program);
      SsaModule ssa = SsaModule::from_ir(ir);
      return LLVMBackend().emit_module(ssa);
    }
  }
  return CompilerError::other("Unknown compile target");
}

Result<std::string> run_pipeline(CompileTarget target, std::string_view source) {
  Result<TokenList> tokens = Lexer(source).scan_tokens();
  if (!tokens) return std::move(tokens.error()).with_source(source);

  Program program;
  {
    Parser parser(std::move(tokens.value()));
    while (!parser.is_at_end()) {
      Result<std::optional<Statement>> statement = parser.parse_statement();
      if (!statement) return std::move(statement.error()).with_source(source);
      if (statement.value()) program.push_back(std::move(*statement.value()));
    }
  }

  {
    std::vector<CompilerError> errors = SemanticAnalyzer().analyze(program);
    if (!errors.empty()) return std::move(errors.front()).with_source(source);
  }

  program = Optimizer().optimize(std::move(program));
  return run_back_end(target, program);
}

struct PipelineCall {
  CompileTarget target;
  std::string_view source;
  std::optional<Result<std::string>> result;
};

void* run_pipeline_thread(void* argument) {
  auto* call = static_cast<PipelineCall*>(argument);
  try {
    call->result.emplace(run_pipeline(call->target, call->source));
  } catch (const std::bad_alloc&) {
    call->result.emplace(CompilerError::other("Out of memory while compiling"));
  }
  return nullptr;
}

}  // namespace

Result<std::string> Compiler::compile(CompileTarget target, std::string_view source) {
  PipelineCall call{target, source, std::nullopt};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_t thread;
  bool started = pthread_attr_setstacksize(&attributes, kPipelineStackBytes) == 0 &&
                 pthread_create(&thread, &attributes, run_pipeline_thread, &call) == 0;
  pthread_attr_destroy(&attributes);
  if (started) {
    pthread_join(thread, nullptr);
  } else {
    // No room for the large stack: compile here; the parser's depth limits still apply.
    run_pipeline_thread(&call);
  }
  return std::move(*call.result);
}

}  // namespace ovra
