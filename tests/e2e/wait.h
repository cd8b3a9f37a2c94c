#pragma once

#include <chrono>
#include <thread>

namespace korvel::e2e {

// Polls `condition` until it holds or `timeout` has passed; whether it held. Every wait in the
// tests is bounded: a program that never gets there fails the test instead of hanging it.
template <typename Condition>
bool waitUntil(Condition&& condition, std::chrono::milliseconds timeout,
               std::chrono::milliseconds poll = std::chrono::milliseconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(poll);
    }
}

}  // namespace korvel::e2e
