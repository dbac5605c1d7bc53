#include "read/Interpreters.h"

bool CPNG_SpecInterpreter::isCMYK() const { return false; }

int CPNG_SpecInterpreter::alphaChannel() const { return spec.alpha_channel; }
