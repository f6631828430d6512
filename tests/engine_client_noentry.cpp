// A shared library that is not a pyramid engine: it has no mexFunction.
// The binding tests load it to check the error for a missing entry.
extern "C" __attribute__((visibility("default"))) int kalnoentry_version() { return 1; }
