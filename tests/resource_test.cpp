// What varnel.exe carries for Windows and its tools, read from outside the program as they read
// it: the version resource through the version functions, the manifest as the loader takes it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver.h"

namespace {

const std::string kExe = BuildDir() + "\\varnel.exe";

// A string of the version resource's U.S. English table ("" when it is not there).
std::string VersionString(const std::vector<char>& block, const char* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(block.data(), path.c_str(), &value, &length) || length == 0) return "";
    return static_cast<const char*>(value);
}

// Explorer's Details tab and inventory tools read the version through these functions: the
// numbers and the texts are the project's version, with the product's name and its licence.
TEST(Resources, TheVersionReadsBackAsTheProjectsVersion) {
    DWORD ignored = 0;
    std::vector<char> block(GetFileVersionInfoSizeA(kExe.c_str(), &ignored));
    ASSERT_FALSE(block.empty()) << "no version resource in " << kExe;
    ASSERT_TRUE(
        GetFileVersionInfoA(kExe.c_str(), 0, static_cast<DWORD>(block.size()), block.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    auto numbers = [](DWORD high, DWORD low) {
        return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
               std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
    };
    const std::string version = VARNEL_VERSION;
    EXPECT_EQ(numbers(fixed->dwFileVersionMS, fixed->dwFileVersionLS), version + ".0");
    EXPECT_EQ(numbers(fixed->dwProductVersionMS, fixed->dwProductVersionLS), version + ".0");
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
    EXPECT_EQ(VersionString(block, "FileVersion"), version);
    EXPECT_EQ(VersionString(block, "ProductVersion"), version);
    EXPECT_EQ(VersionString(block, "ProductName"), "Varnel");
    EXPECT_EQ(VersionString(block, "OriginalFilename"), "varnel.exe");
    EXPECT_EQ(VersionString(block, "LegalCopyright"), VARNEL_COPYRIGHT);
    EXPECT_NE(VersionString(block, "FileDescription"), "");
}

// The manifest runs the program as the user who starts it, on Windows 7 to 11 as such, as the
// system's own parser reads it; and it asks for neither the version-6 common controls nor DPI
// awareness (see res/varnel.rc for why).
TEST(Resources, TheManifestRunsAsInvokerOnWindows7To11) {
    HMODULE module = LoadLibraryExA(kExe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    HRSRC found = FindResourceA(module, CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
    ASSERT_NE(found, nullptr) << "no manifest in " << kExe;
    const std::string text(static_cast<const char*>(LockResource(LoadResource(module, found))),
                           SizeofResource(module, found));
    FreeLibrary(module);
    EXPECT_EQ(text.find("Common-Controls"), std::string::npos) << text;
    EXPECT_EQ(text.find("dpiAware"), std::string::npos) << text;

    ACTCTXA request{};
    request.cbSize = sizeof(request);
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = kExe.c_str();
    request.lpResourceName = CREATEPROCESS_MANIFEST_RESOURCE_ID;
    HANDLE context = CreateActCtxA(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << "the manifest does not parse: " << GetLastError();
    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION runLevel{};
    EXPECT_TRUE(QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &runLevel,
                             sizeof(runLevel), nullptr));
    EXPECT_EQ(runLevel.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);
    EXPECT_EQ(runLevel.UiAccess, 0u);
    // The systems come back as GUIDs, in entries whose layout differs between SDKs: each is
    // looked for in the answer's bytes.
    char compatibility[1024] = {};
    EXPECT_TRUE(QueryActCtxW(0, context, nullptr, CompatibilityInformationInActivationContext,
                             compatibility, sizeof(compatibility), nullptr));
    ReleaseActCtx(context);
    EXPECT_EQ(*reinterpret_cast<DWORD*>(compatibility), 4u) << "supported systems";
    const GUID systems[] = {
        {0x35138b9a, 0x5d96, 0x4fbd, {0x8e, 0x2d, 0xa2, 0x44, 0x02, 0x25, 0xf9, 0x3a}},  // 7
        {0x4a2f28e3, 0x53b9, 0x4441, {0xba, 0x9c, 0xd6, 0x9d, 0x4a, 0x4a, 0x6e, 0x38}},  // 8
        {0x1f676c76, 0x80e1, 0x4239, {0x95, 0xbb, 0x83, 0xd0, 0xf6, 0xd0, 0xda, 0x78}},  // 8.1
        {0x8e0f7a12, 0xbfb3, 0x4fe8, {0xb9, 0xa5, 0x48, 0xfd, 0x50, 0xa1, 0x5a, 0x9a}},  // 10, 11
    };
    const std::string answer(compatibility, sizeof(compatibility));
    for (const GUID& system : systems) {
        EXPECT_NE(answer.find(std::string(reinterpret_cast<const char*>(&system), sizeof(system))),
                  std::string::npos)
            << "a system missing, first word " << std::hex << system.Data1;
    }
}

}  // namespace
