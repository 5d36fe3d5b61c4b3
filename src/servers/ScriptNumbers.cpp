#include "ScriptNumbers.h"

#include <cmath>

int ScriptNumberSequence::next()
{
    // 24 random bits make every single-precision value below 1 exactly; a float built by
    // dividing a wider integer could round up to 1.0 and give 5002.
    const float r = static_cast<float>(m_engine() >> 8) * 0x1.0p-24f;
    return numberFor(r);
}

int ScriptNumberSequence::numberFor(float r)
{
    return static_cast<int>(std::floor(static_cast<double>(r) * kCount));
}

ScriptNumberSequence& processScriptNumbers()
{
    static ScriptNumberSequence sequence;
    return sequence;
}
