#pragma once

#include <random>

// The numbers that name installed scripts, 0 to 5001. The sequence is never seeded from
// the clock, so every run of the program draws the same numbers in the same order.
class ScriptNumberSequence {
public:
    static constexpr int kCount = 5002;

    int next();

    // The script number for a draw r from [0, 1).
    static int numberFor(float r);

private:
    std::mt19937 m_engine; // default seed
};

// The sequence shared by the whole process.
ScriptNumberSequence& processScriptNumbers();
