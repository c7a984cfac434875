// Reads the version resource of each file named on the command line through the Windows API, as
// Explorer's file properties and a host's driver list do, and compares it with the build's version
// source. Prints what it read; exits 1 when a file lacks the resource or a text differs.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const std::string& text) {
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string Narrow(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(size > 0 ? size - 1 : 0), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow.data(), size, nullptr, nullptr);
    return narrow;
}

class Check {
public:
    explicit Check(std::string file) : _file(std::move(file)) {}
    void Expect(const std::string& what, const std::string& found, const std::string& expected) {
        const bool same = found == expected;
        std::printf("%s: %s \"%s\"%s\n", _file.c_str(), what.c_str(), found.c_str(),
                    same ? "" : (" but the build says \"" + expected + "\"").c_str());
        _failed |= !same;
    }
    void Fail(const std::string& why) {
        std::printf("%s: %s\n", _file.c_str(), why.c_str());
        _failed = true;
    }
    bool Failed() const { return _failed; }

private:
    std::string _file;
    bool _failed = false;
};

bool CheckFile(const std::string& path) {
    Check check(path);
    const std::wstring file = Wide(path);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
    std::vector<char> resource(size);
    if (size == 0 || !GetFileVersionInfoW(file.c_str(), 0, size, resource.data())) {
        check.Fail("no version resource (error " + std::to_string(GetLastError()) + ")");
        return false;
    }
    VS_FIXEDFILEINFO* numbers = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(resource.data(), L"\\", reinterpret_cast<void**>(&numbers), &length) || !numbers) {
        check.Fail("no fixed file information");
        return false;
    }
    auto dotted = [](DWORD high, DWORD low) {
        return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
               std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
    };
    check.Expect("file version number", dotted(numbers->dwFileVersionMS, numbers->dwFileVersionLS),
                 ZEB_VERSION);
    check.Expect("product version number", dotted(numbers->dwProductVersionMS, numbers->dwProductVersionLS),
                 ZEB_VERSION);
    WORD* translation = nullptr;
    if (!VerQueryValueW(resource.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
        length < 4) {
        check.Fail("no translation table");
        return false;
    }
    char block[16];
    std::snprintf(block, sizeof block, "%04X%04X", translation[0], translation[1]);
    check.Expect("language block", block, "040904B0");

    const std::string name = path.substr(path.find_last_of("\\/") + 1);
    const std::string stem = name.substr(0, name.rfind('.'));
    auto text = [&](const char* key) {
        const std::wstring query = L"\\StringFileInfo\\040904B0\\" + Wide(key);
        wchar_t* value = nullptr;
        UINT characters = 0;
        if (!VerQueryValueW(resource.data(), query.c_str(), reinterpret_cast<void**>(&value), &characters) ||
            !value)
            return std::string("(missing)");
        return Narrow(value);
    };
    check.Expect("FileVersion", text("FileVersion"), ZEB_VERSION);
    check.Expect("ProductVersion", text("ProductVersion"), ZEB_VERSION);
    check.Expect("CompanyName", text("CompanyName"), ZEB_COMPANY);
    check.Expect("ProductName", text("ProductName"), ZEB_PRODUCT);
    check.Expect("LegalCopyright", text("LegalCopyright"), ZEB_COPYRIGHT);
    check.Expect("OriginalFilename", text("OriginalFilename"), name);
    check.Expect("InternalName", text("InternalName"), stem);
    const std::string description = text("FileDescription");
    if (description.empty() || description == "(missing)")
        check.Fail("FileDescription missing");
    return !check.Failed();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: zeb_version_resources FILE...\n");
        return 2;
    }
    bool ok = true;
    for (int i = 1; i < argc; ++i)
        ok = CheckFile(argv[i]) && ok;
    return ok ? 0 : 1;
}
