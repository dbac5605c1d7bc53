#include "read/Interpreters.h"

bool CPSD_SpecInterpreter::isCMYK() const { return isCMYKByChannelNames(spec); }

int CPSD_SpecInterpreter::alphaChannel() const
{
    const auto& names = spec.channelnames;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i] == "A")
            return static_cast<int>(i);
    return -1;
}
