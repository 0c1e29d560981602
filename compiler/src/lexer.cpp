#include "lexer.h"

#include <unicode/uchar.h>

#include <cstring>
#include <optional>

namespace ovra {

DecodedCharacter decode_utf8(std::string_view text, std::size_t offset) {
  constexpr DecodedCharacter kInvalid{0xFFFD, 1};
  auto byte = [&](std::size_t index) -> unsigned {
    return offset + index < text.size() ? static_cast<unsigned char>(text[offset + index]) : 0;
  };
  auto continuation = [&](std::size_t index) { return (byte(index) & 0xC0) == 0x80; };
  unsigned first = byte(0);
  if (first < 0x80)
    return {first, 1};
  if (first < 0xC2)
    return kInvalid;  // a stray continuation byte or an overlong lead
  if (first < 0xE0) {
    if (!continuation(1))
      return kInvalid;
    return {((first & 0x1F) << 6) | (byte(1) & 0x3F), 2};
  }
  if (first < 0xF0) {
    unsigned second = byte(1);
    // E0 needs A0..BF (no overlong forms), ED needs 80..9F (no surrogates).
    unsigned low = first == 0xE0 ? 0xA0 : 0x80;
    unsigned high = first == 0xED ? 0x9F : 0xBF;
    if (second < low || second > high || !continuation(2))
      return kInvalid;
    return {((first & 0x0F) << 12) | ((second & 0x3F) << 6) | (byte(2) & 0x3F), 3};
  }
  if (first < 0xF5) {
    unsigned second = byte(1);
    // F0 needs 90..BF (no overlong forms), F4 needs 80..8F (nothing past U+10FFFF).
    unsigned low = first == 0xF0 ? 0x90 : 0x80;
    unsigned high = first == 0xF4 ? 0x8F : 0xBF;
    if (second < low || second > high || !continuation(2) || !continuation(3))
      return kInvalid;
    return {((first & 0x07) << 18) | ((second & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) |
                (byte(3) & 0x3F),
            4};
  }
  return kInvalid;
}

namespace {

bool is_ascii_digit(unsigned char c) {
  return c >= '0' && c <= '9';
}
bool is_ascii_letter(unsigned char c) {
  return (c | 0x20) >= 'a' && (c | 0x20) <= 'z';
}
bool is_ascii_identifier_part(unsigned char c) {
  return is_ascii_letter(c) || is_ascii_digit(c) || c == '_';
}

bool is_identifier_start(char32_t c) {
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_ALPHABETIC) ||
         u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_XID_START);
}

// Numeric means a character of the general categories Nd, Nl or No.
bool is_numeric(char32_t c) {
  std::int8_t category = u_charType(static_cast<UChar32>(c));
  return category == U_DECIMAL_DIGIT_NUMBER || category == U_LETTER_NUMBER ||
         category == U_OTHER_NUMBER;
}

bool is_identifier_part(char32_t c) {
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_ALPHABETIC) || is_numeric(c) ||
         u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_XID_CONTINUE);
}

// Exact comparison of a finished identifier against the keyword table.
std::optional<TokenType> keyword_kind(std::string_view text) {
  using T = TokenType;
  struct Keyword {
    std::string_view text;
    TokenType kind;
  };
  static constexpr Keyword kKeywords[] = {
      {"let", T::Let},
      {"const", T::Const},
      {"func", T::Func},
      {"back", T::Back},
      {"push", T::Push},
      {"out", T::Out},
      {"rmv", T::Rmv},
      {"new", T::New},
      {"typeins", T::Typeins},
      {"class", T::Class},
      {"if", T::If},
      {"else", T::Else},
      {"esle", T::Esle},
      {"forloop", T::Forloop},
      {"while", T::While},
      {"continue", T::Continue},
      {"break", T::Break},
      {"remake", T::Remake},
      {"true", T::True},
      {"false", T::False},
      {"crob", T::Crob},
      {"cite", T::Cite},
      {"share", T::Share},
      {"from", T::From},
      {"as", T::As},
      {"struct", T::Struct},
      {"put", T::Put},
      {"delete", T::Delete},
      {"options", T::Options},
      {"head", T::Head},
      {"str", T::TypeStr},
      {"string", T::TypeString},
      {"int", T::TypeInt},
      {"bool", T::TypeBool},
      {"singlef", T::TypeSingleF},
      {"multif", T::TypeMultiF},
      {"arr", T::TypeArr},
      {"obj", T::TypeObj},
      {"unknown", T::TypeUnknown},
      {"void", T::TypeVoid},
  };
  // Every keyword is 2 to 8 lowercase ASCII letters; most identifiers fail these two tests.
  if (text.size() < 2 || text.size() > 8 || text[0] < 'a' || text[0] > 'z')
    return std::nullopt;
  for (const Keyword& keyword : kKeywords) {
    if (keyword.text.size() == text.size() && keyword.text[0] == text[0] && keyword.text == text) {
      return keyword.kind;
    }
  }
  return std::nullopt;
}

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

Lexer::Lexer(std::string_view source) : source_(source) {}

void Lexer::advance_character() {
  unsigned char c = static_cast<unsigned char>(source_[offset_]);
  if (c == '\n') {
    ++offset_;
    ++position_;
    ++line_;
    column_ = 1;
  } else if (c < 0x80) {
    advance_bytes(1);
  } else {
    advance_bytes(decode_utf8(source_, offset_).length);
  }
}

void Lexer::add_token(TokenType type, const Start& start, std::string_view text) {
  list_.tokens.push_back(
      Token{type, source_.substr(start.offset, offset_ - start.offset), text, start.span});
}

CompilerError Lexer::error(std::string message) const {
  return CompilerError::lexical(std::move(message), line_, column_);
}

void Lexer::scan_number(const Start& start) {
  bool seen_dot = false;
  while (!at_end()) {
    unsigned char c = static_cast<unsigned char>(source_[offset_]);
    if (is_ascii_digit(c)) {
      advance_bytes(1);
    } else if (c == '.' && !seen_dot) {
      seen_dot = true;
      advance_bytes(1);
    } else {
      break;
    }
  }
  std::string_view text = source_.substr(start.offset, offset_ - start.offset);
  add_token(TokenType::NumberLiteral, start, text);
}

void Lexer::scan_identifier(const Start& start) {
  // The first character was checked by the caller; it may be multi-byte.
  advance_character();
  while (!at_end()) {
    unsigned char c = static_cast<unsigned char>(source_[offset_]);
    if (c < 0x80) {
      if (!is_ascii_identifier_part(c))
        break;
      advance_bytes(1);
    } else {
      DecodedCharacter decoded = decode_utf8(source_, offset_);
      if (!is_identifier_part(decoded.value))
        break;
      advance_bytes(decoded.length);
    }
  }
  std::string_view text = source_.substr(start.offset, offset_ - start.offset);
  if (std::optional<TokenType> keyword = keyword_kind(text)) {
    add_token(*keyword, start);
  } else {
    add_token(TokenType::Identifier, start, text);
  }
}

Status Lexer::scan_string(const Start& start) {
  const char quote = source_[offset_];
  advance_bytes(1);
  const std::size_t content_start = offset_;
  // The content is copied only once it differs from the source text: at the first escape or
  // invalid byte. Until then it is the slice from content_start.
  std::optional<std::string> decoded;
  auto begin_decoding = [&] {
    if (!decoded)
      decoded.emplace(source_.substr(content_start, offset_ - content_start));
  };
  while (!at_end()) {
    unsigned char c = static_cast<unsigned char>(source_[offset_]);
    if (c == static_cast<unsigned char>(quote)) {
      std::string_view content = source_.substr(content_start, offset_ - content_start);
      advance_bytes(1);
      if (!decoded) {
        add_token(TokenType::StringLiteral, start, content);
        return Unit{};
      }
      // The lexeme is the decoded content between its quotes; the payload is the middle of it.
      std::string& stored = list_.decoded_strings.emplace_back();
      stored.reserve(decoded->size() + 2);
      stored += quote;
      stored += *decoded;
      stored += quote;
      std::string_view lexeme = stored;
      list_.tokens.push_back(
          Token{TokenType::StringLiteral, lexeme, lexeme.substr(1, lexeme.size() - 2), start.span});
      return Unit{};
    }
    if (c == '\\') {
      begin_decoding();
      advance_bytes(1);
      if (at_end())
        break;
      unsigned char escaped = static_cast<unsigned char>(source_[offset_]);
      switch (escaped) {
        case 'n':
          *decoded += '\n';
          break;
        case 't':
          *decoded += '\t';
          break;
        case 'r':
          *decoded += '\r';
          break;
        default:
          if (escaped < 0x80) {
            *decoded += static_cast<char>(escaped);
          } else {
            append_utf8(*decoded, decode_utf8(source_, offset_).value);
          }
      }
      advance_character();
      continue;
    }
    if (c < 0x80) {
      if (decoded)
        *decoded += static_cast<char>(c);
      advance_character();
      continue;
    }
    DecodedCharacter character = decode_utf8(source_, offset_);
    if (character.length == 1)
      begin_decoding();  // an invalid byte becomes U+FFFD
    if (decoded)
      append_utf8(*decoded, character.value);
    advance_bytes(character.length);
  }
  return error("Unterminated string");
}

Status Lexer::skip_block_comment() {
  advance_bytes(1);  // "/*"
  advance_bytes(1);
  auto has_two_characters = [&] {
    if (at_end())
      return false;
    unsigned char c = static_cast<unsigned char>(source_[offset_]);
    std::size_t length = c < 0x80 ? 1 : decode_utf8(source_, offset_).length;
    return offset_ + length < source_.size();
  };
  if (!has_two_characters())
    return error("Unterminated block comment");
  // Stops on the last character when no "*/" closes the comment.
  while (has_two_characters()) {
    if (source_[offset_] == '*' && source_[offset_ + 1] == '/') {
      advance_bytes(1);
      advance_bytes(1);
      return Unit{};
    }
    advance_character();
  }
  return error("Unterminated block comment");
}

bool Lexer::scan_operator(const Start& start) {
  using T = TokenType;
  char c = source_[offset_];
  char next = offset_ + 1 < source_.size() ? source_[offset_ + 1] : '\0';
  auto one = [&](TokenType type) {
    advance_bytes(1);
    add_token(type, start);
    return true;
  };
  auto two = [&](TokenType type) {
    advance_bytes(1);
    advance_bytes(1);
    add_token(type, start);
    return true;
  };
  switch (c) {
    case '=':
      if (next == '=')
        return two(T::Equal);
      if (next == '>')
        return two(T::Arrow);
      return one(T::Assign);
    case '!':
      return next == '=' ? two(T::NotEqual) : one(T::Not);
    case '<':
      return next == '=' ? two(T::LessEqual) : one(T::Less);
    case '>':
      return next == '=' ? two(T::GreaterEqual) : one(T::Greater);
    case '&':
      if (next == '&')
        return two(T::And);
      return false;
    case '|':
      return next == '|' ? two(T::Or) : one(T::Pipe);
    case '+':
      return one(T::Plus);
    case '-':
      return one(T::Minus);
    case '*':
      return one(T::Multiply);
    case '/':
      return one(T::Divide);
    case '%':
      return one(T::Modulo);
    case ';':
      return one(T::Semicolon);
    case ':':
      return one(T::Colon);
    case ',':
      return one(T::Comma);
    case '.':
      return one(T::Dot);
    case '(':
      return one(T::LeftParen);
    case ')':
      return one(T::RightParen);
    case '{':
      return one(T::LeftBrace);
    case '}':
      return one(T::RightBrace);
    case '[':
      return one(T::LeftBracket);
    case ']':
      return one(T::RightBracket);
    case '@':
      return one(T::At);
    default:
      return false;
  }
}

Result<TokenList> Lexer::scan_tokens() {
  // Real programs average well over three bytes per token; reserving for that many costs
  // address space only, since untouched pages are never committed.
  list_.tokens.reserve(source_.size() / 3 + 1);
  while (!at_end()) {
    unsigned char c = static_cast<unsigned char>(source_[offset_]);
    if (c == ' ' || c == '\t' || c == '\r') {
      advance_bytes(1);
      continue;
    }
    if (c == '\n') {
      advance_character();
      continue;
    }
    Start start{offset_, here()};
    if (is_ascii_digit(c)) {
      scan_number(start);
    } else if (is_ascii_letter(c) || c == '_') {
      scan_identifier(start);
    } else if (c >= 0x80) {
      DecodedCharacter decoded = decode_utf8(source_, offset_);
      if (is_identifier_start(decoded.value)) {
        scan_identifier(start);
      } else {
        advance_bytes(decoded.length);  // skipped like any unknown character
      }
    } else if (c == '"' || c == '\'') {
      Status status = scan_string(start);
      if (!status)
        return std::move(status.error());
    } else if (c == '/' && offset_ + 1 < source_.size() && source_[offset_ + 1] == '/') {
      // Up to the line feed; every character still counts for the position.
      const void* found = std::memchr(source_.data() + offset_, '\n', source_.size() - offset_);
      std::size_t end = found ? static_cast<const char*>(found) - source_.data() : source_.size();
      while (offset_ < end)
        advance_character();
    } else if (c == '/' && offset_ + 1 < source_.size() && source_[offset_ + 1] == '*') {
      Status status = skip_block_comment();
      if (!status)
        return std::move(status.error());
    } else if (!scan_operator(start)) {
      advance_bytes(1);  // an unknown ASCII character
    }
  }
  list_.tokens.push_back(Token{TokenType::Eof, {}, {}, here()});
  return std::move(list_);
}

std::optional<std::size_t> first_invalid_utf8_offset(std::string_view text) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t size = text.size();
  std::size_t i = 0;
  while (i < size) {
    const unsigned char lead = bytes[i];
    if (lead < 0x80) {
      ++i;
      continue;
    }
    // The allowed range of the second byte narrows for the leads that would otherwise admit
    // overlong forms (E0, F0), surrogates (ED) or values past U+10FFFF (F4).
    std::size_t length = 0;
    unsigned char second_low = 0x80, second_high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      if (lead == 0xE0)
        second_low = 0xA0;
      if (lead == 0xED)
        second_high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      if (lead == 0xF0)
        second_low = 0x90;
      if (lead == 0xF4)
        second_high = 0x8F;
    } else {
      return i;
    }
    if (i + 1 >= size || bytes[i + 1] < second_low || bytes[i + 1] > second_high)
      return i;
    for (std::size_t k = 2; k < length; ++k) {
      if (i + k >= size || (bytes[i + k] & 0xC0) != 0x80)
        return i;
    }
    i += length;
  }
  return std::nullopt;
}

}  // namespace ovra
