#pragma once
#include <random>

namespace kingyo {

// One program-wide source of uniform numbers in [0, 1), reseeded from the clock
// before the draws that should not repeat between runs. Tests inject their own.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual void reseed() = 0;
    virtual float next() = 0; // uniform in [0, 1)
};

class SystemRandom final : public RandomSource {
public:
    void reseed() override;
    float next() override;

private:
    std::mt19937 engine_{std::random_device{}()};
};

} // namespace kingyo
