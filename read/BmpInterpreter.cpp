#include "read/Interpreters.h"

bool CBMP_SpecInterpreter::isCMYK() const { return false; }

int CBMP_SpecInterpreter::alphaChannel() const { return spec.alpha_channel; }
