#pragma once

#include <windows.h>

namespace zorblinth::win32 {

// Claims the program's one running copy for as long as it lives. A named mutex is created
// atomically, so of two copies started at the same instant exactly one is first.
class SingleInstance {
public:
    static constexpr const wchar_t* programName = L"Zorblinth.SingleInstance";

    // Copies claiming the same name exclude each other; the program always uses programName.
    explicit SingleInstance(const wchar_t* name = programName);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    bool anotherIsRunning() const { return anotherIsRunning_; }

private:
    HANDLE mutex_ = nullptr;
    bool anotherIsRunning_ = false;
};

} // namespace zorblinth::win32
