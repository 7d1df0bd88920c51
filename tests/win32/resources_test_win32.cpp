// What Windows reads from Zorblinth.scr itself: the version block, the icon, the name it lists
// the saver under and the manifest.
#include "resource_ids.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace {

const wchar_t* const programPath = ZORBLINTH_SCR_PATH;

struct ModuleFreer {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using DataModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer>;

DataModule loadAsData() {
    return DataModule(LoadLibraryExW(programPath, nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}

std::wstring versionString(const std::vector<char>& block, const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring path = std::wstring(L"\\StringFileInfo\\041104B0\\") + name;
    if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || length == 0)
        return {};
    return std::wstring(static_cast<const wchar_t*>(value));
}

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct IconGroup {
    WORD reserved, type, count;
    IconGroupEntry entries[1];
};
#pragma pack(pop)

} // namespace

TEST(Resources, VersionBlockIsJapaneseUnicodeWithTheProductsNames) {
    const DWORD size = GetFileVersionInfoSizeW(programPath, nullptr);
    ASSERT_GT(size, 0u) << "no version block in " << ZORBLINTH_SCR_PATH_NARROW;
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoW(programPath, 0, size, block.data()));

    EXPECT_EQ(versionString(block, L"ProductName"), L"Zorblinth");
    EXPECT_EQ(versionString(block, L"InternalName"), L"Zorblinth");
    EXPECT_EQ(versionString(block, L"OriginalFilename"), L"Zorblinth.scr");
    EXPECT_EQ(versionString(block, L"FileVersion"), L"2.01.0001");
    EXPECT_EQ(versionString(block, L"ProductVersion"), L"2.01.0001");

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation", &value, &length));
    ASSERT_GE(length, 4u);
    const auto* translation = static_cast<const WORD*>(value);
    EXPECT_EQ(translation[0], 0x0411);
    EXPECT_EQ(translation[1], 1200);

    ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", &value, &length));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(1, 2));
    EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(1, 0));
}

TEST(Resources, OneIconOf48PixelsIn256ColoursNameAndManifest) {
    const DataModule module = loadAsData();
    ASSERT_TRUE(module);

    const HRSRC groupResource =
        FindResourceW(module.get(), MAKEINTRESOURCEW(IDI_ZORBLINTH), RT_GROUP_ICON);
    ASSERT_NE(groupResource, nullptr);
    const auto* group =
        static_cast<const IconGroup*>(LockResource(LoadResource(module.get(), groupResource)));
    ASSERT_EQ(group->count, 1);
    EXPECT_EQ(group->entries[0].width, 48);
    EXPECT_EQ(group->entries[0].height, 48);
    EXPECT_EQ(group->entries[0].bitCount, 8);

    wchar_t name[32] = {};
    EXPECT_GT(LoadStringW(module.get(), IDS_PRODUCT_NAME, name, 32), 0);
    EXPECT_STREQ(name, L"Zorblinth");

    const HRSRC manifest = FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(manifest, nullptr);
    const std::string text(
        static_cast<const char*>(LockResource(LoadResource(module.get(), manifest))),
        SizeofResource(module.get(), manifest));
    EXPECT_NE(text.find("PerMonitorV2"), std::string::npos);
    EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
}
