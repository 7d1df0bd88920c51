#include "startup/single_instance_win32.hpp"

namespace zorblinth::win32 {

SingleInstance::SingleInstance(const wchar_t* name) {
    SetLastError(ERROR_SUCCESS);
    mutex_ = CreateMutexW(nullptr, FALSE, name);
    const DWORD error = GetLastError();
    // Access denied: the mutex exists but belongs to a copy started by another user.
    anotherIsRunning_ =
        error == ERROR_ALREADY_EXISTS || (mutex_ == nullptr && error == ERROR_ACCESS_DENIED);
}

SingleInstance::~SingleInstance() {
    if (mutex_)
        CloseHandle(mutex_);
}

} // namespace zorblinth::win32
