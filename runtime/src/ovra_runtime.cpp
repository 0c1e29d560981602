// The native runtime library; its functions come with the native target.
