#include "read/Interpreters.h"

bool COther_SpecInterpreter::isCMYK() const { return false; }

// Formats without an interpreter of their own are read without alpha.
int COther_SpecInterpreter::alphaChannel() const { return -1; }
