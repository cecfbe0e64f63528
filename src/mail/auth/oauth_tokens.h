#pragma once
#include <QString>
#include <chrono>
#include <functional>

namespace kingyo {

// What a provider gives for a signed-in account.
struct OAuthTokens {
    QString access;
    std::chrono::system_clock::time_point expiresAt{}; // wall clock: monotonic clocks stop in suspend
    QString refresh;                                   // empty when the provider gave none

    bool operator==(const OAuthTokens &) const = default;
};

// The wall clock tokens expire by; tests put in their own.
using WallClock = std::function<std::chrono::system_clock::time_point()>;

} // namespace kingyo
