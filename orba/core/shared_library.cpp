#include "orba/core/shared_library.h"

#include <utility>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace orba {

#if defined(_WIN32)
namespace {

// Windows takes file names in UTF-16; the project's strings are UTF-8.
bool to_utf16(const std::string& text, std::wstring& out) {
    out.clear();
    if (text.empty()) return true;
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (n <= 0) return false;
    out.resize(static_cast<std::size_t>(n));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, out.data(), n) == n;
}

std::string to_utf8(const wchar_t* text, int size) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, size, out.data(), n, nullptr, nullptr);
    return out;
}

std::string system_message(DWORD code) {
    wchar_t* text = nullptr;
    const DWORD size = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string message = size > 0 ? to_utf8(text, static_cast<int>(size)) : std::string();
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    if (message.empty()) message = "system error";
    return message + " (error " + std::to_string(code) + ")";
}

}  // namespace

SharedLibrary::SharedLibrary(const std::string& path) {
    std::wstring wide;
    if (path.empty() || !to_utf16(path, wide)) {
        error_ = "the path is not a file name in UTF-8";
        return;
    }
    // LoadLibrary searches for any path that is not absolute; made absolute,
    // a relative path is the file it names, and the library's own folder is
    // where its dependencies are looked for, as hosts load plug-ins.
    const DWORD full_size = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(full_size, L'\0');
    const DWORD written = full_size > 0
                              ? GetFullPathNameW(wide.c_str(), full_size, full.data(), nullptr)
                              : 0;
    if (written == 0 || written >= full_size) {
        error_ = system_message(GetLastError());
        return;
    }
    full.resize(written);
    // No dialog box about a missing DLL: the caller reports the failure.
    DWORD previous_mode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous_mode);
    HMODULE module = LoadLibraryExW(full.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    const DWORD code = GetLastError();
    SetThreadErrorMode(previous_mode, nullptr);
    if (module == nullptr) {
        error_ = system_message(code);
        return;
    }
    handle_ = reinterpret_cast<void*>(module);
}

void* SharedLibrary::symbol(const char* name) const {
    if (handle_ == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

void SharedLibrary::close() noexcept {
    if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

#else

SharedLibrary::SharedLibrary(const std::string& path) {
    // dlopen searches the library path for a name without a slash.
    const std::string file =
        path.find('/') == std::string::npos && !path.empty() ? "./" + path : path;
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* reason = dlerror();
        error_ = reason != nullptr ? reason : "the library did not load";
    }
}

void* SharedLibrary::symbol(const char* name) const {
    return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

void SharedLibrary::close() noexcept {
    if (handle_ != nullptr) dlclose(handle_);
    handle_ = nullptr;
}

#endif

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, nullptr);
        error_ = std::move(other.error_);
    }
    return *this;
}

SharedLibrary::~SharedLibrary() {
    close();
}

}  // namespace orba
