// The built programs' resources as Windows reads them: Kestrin.exe and
// kestrin-cli.exe are loaded as data from their places beside this test
// (KESTRIN_WINDOW_PROGRAM, KESTRIN_COMMAND_LINE). The loader reads one
// manifest, id 1, and refuses to start a program whose manifest is
// malformed, so each is parsed as XML and read as the loader would.

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

// The wide forms of RT_MANIFEST and the like.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

namespace {

// Windows Vista, 7, 8, 8.1, and 10 and 11.
const std::set<std::string> kSupportedSystems = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"};

struct Program {
  const char* relativePath;  // from this test's folder
  const char* fileName;
  const char* executionLevel;
  bool commonControls;         // asks for version 6 of the common controls
  const char* dpiAwareness;    // the 2016 element, or "" for none
  const char* activeCodePage;  // or "" for none
  bool icon;                   // carries the program's icon
};

const Program kPrograms[] = {
    {KESTRIN_WINDOW_PROGRAM, "Kestrin.exe", "requireAdministrator", true, "PerMonitorV2, PerMonitor", "", true},
    {KESTRIN_COMMAND_LINE, "kestrin-cli.exe", "asInvoker", false, "", "UTF-8", false},
};

std::filesystem::path beside(const char* relative) {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  return std::filesystem::path(path).parent_path() / relative;
}

BOOL CALLBACK collectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
  reinterpret_cast<std::vector<ULONG_PTR>*>(names)->push_back(IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name)
                                                                                   : 0);
  return TRUE;
}

BOOL CALLBACK collectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::vector<WORD>*>(languages)->push_back(language);
  return TRUE;
}

// The text of an element of the manifest's windowsSettings, whatever the
// namespace prefix it is written with (the attribute xmlns carries it).
std::string windowsSetting(const pugi::xml_document& manifest, const char* name) {
  return manifest.child("assembly").child("application").child("windowsSettings").child(name).text().get();
}

class ProgramResources : public ::testing::TestWithParam<Program> {
 protected:
  void SetUp() override {
    m_path = beside(GetParam().relativePath);
    m_module = ::LoadLibraryExW(m_path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(m_module, nullptr) << "cannot load " << m_path.string() << ": error " << ::GetLastError();
  }
  void TearDown() override {
    if (m_module != nullptr) ::FreeLibrary(m_module);
  }

  // The one manifest the loader would read, parsed; fails the test when
  // there is not exactly one (id 1, one language) or it is not well-formed.
  void loadManifest(pugi::xml_document& document) {
    std::vector<ULONG_PTR> names;
    ::EnumResourceNamesW(m_module, RT_MANIFEST, collectName, reinterpret_cast<LONG_PTR>(&names));
    ASSERT_EQ(names, std::vector<ULONG_PTR>{1});
    std::vector<WORD> languages;
    ::EnumResourceLanguagesW(m_module, RT_MANIFEST, MAKEINTRESOURCEW(1), collectLanguage,
                             reinterpret_cast<LONG_PTR>(&languages));
    ASSERT_EQ(languages.size(), 1u) << "the loader would read only one of the manifests";
    HRSRC found = ::FindResourceExW(m_module, RT_MANIFEST, MAKEINTRESOURCEW(1), languages.front());
    ASSERT_NE(found, nullptr);
    const void* bytes = ::LockResource(::LoadResource(m_module, found));
    const pugi::xml_parse_result parsed = document.load_buffer(bytes, ::SizeofResource(m_module, found));
    ASSERT_TRUE(parsed) << parsed.description();
  }

  std::filesystem::path m_path;
  HMODULE m_module = nullptr;
};

TEST_P(ProgramResources, OneManifestAsksForTheRightsStyleAndScalingTheProgramNeeds) {
  pugi::xml_document manifest;
  loadManifest(manifest);
  ASSERT_FALSE(HasFatalFailure());
  const pugi::xml_node assembly = manifest.child("assembly");
  EXPECT_STREQ(assembly.child("trustInfo")
                   .child("security")
                   .child("requestedPrivileges")
                   .child("requestedExecutionLevel")
                   .attribute("level")
                   .value(),
               GetParam().executionLevel);

  std::set<std::string> systems;
  for (pugi::xml_node os : assembly.child("compatibility").child("application").children("supportedOS")) {
    systems.insert(os.attribute("Id").value());
  }
  EXPECT_EQ(systems, kSupportedSystems);

  const pugi::xml_node controls = assembly.child("dependency").child("dependentAssembly").child("assemblyIdentity");
  EXPECT_EQ(std::string(controls.attribute("name").value()) == "Microsoft.Windows.Common-Controls",
            GetParam().commonControls);
  if (GetParam().commonControls) {
    EXPECT_STREQ(controls.attribute("version").value(), "6.0.0.0");
    EXPECT_STREQ(controls.attribute("type").value(), "win32");
    EXPECT_STREQ(controls.attribute("publicKeyToken").value(), "6595b64144ccf1df");
  }

  EXPECT_EQ(windowsSetting(manifest, "dpiAwareness"), GetParam().dpiAwareness);
  // The systems before Windows 10 1607 read only dpiAware: per monitor,
  // else the system's DPI.
  EXPECT_EQ(windowsSetting(manifest, "dpiAware"), *GetParam().dpiAwareness != '\0' ? "true/pm" : "");
  EXPECT_EQ(windowsSetting(manifest, "activeCodePage"), GetParam().activeCodePage);
}

TEST_P(ProgramResources, VersionRecordNamesTheProgramAndTheProjectsVersion) {
  const std::wstring path = m_path.wstring();
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  const std::string version =
      std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." + std::to_string(LOWORD(fixed->dwFileVersionMS));
  EXPECT_EQ(version, KESTRIN_VERSION);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  auto text = [&](const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT length = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!::VerQueryValueW(block.data(), key.c_str(), reinterpret_cast<void**>(&value), &length))
      return std::string("<none>");
    std::string narrow;
    for (const wchar_t* c = value; *c != L'\0'; ++c) narrow += static_cast<char>(*c);
    return narrow;
  };
  EXPECT_EQ(text(L"ProductVersion"), KESTRIN_VERSION);
  EXPECT_EQ(text(L"FileVersion"), KESTRIN_VERSION);
  EXPECT_EQ(text(L"ProductName"), "Kestrin");
  EXPECT_EQ(text(L"OriginalFilename"), GetParam().fileName);
  EXPECT_NE(text(L"FileDescription").find("Kestrin"), std::string::npos);
}

// The shell shows the program's first icon; the window loads it at the
// sizes of the frame and the task bar at each DPI.
TEST_P(ProgramResources, OnlyTheWindowProgramCarriesAnIconWithASharpPictureForEachSize) {
  std::vector<ULONG_PTR> groups;
  ::EnumResourceNamesW(m_module, RT_GROUP_ICON, collectName, reinterpret_cast<LONG_PTR>(&groups));
  if (!GetParam().icon) {
    EXPECT_TRUE(groups.empty());
    return;
  }
  ASSERT_EQ(groups.size(), 1u);
  const LPCWSTR group = MAKEINTRESOURCEW(groups.front());
  // 16 and 32 at 100 %, 24 and 48 at 150 %, 32 and 64 at 200 %, 256 for the
  // shell's large views: each has a picture of its own, none is stretched.
  HRSRC found = ::FindResourceW(m_module, group, RT_GROUP_ICON);
  ASSERT_NE(found, nullptr);
  auto* directory = static_cast<BYTE*>(::LockResource(::LoadResource(m_module, found)));
  for (int size : {16, 20, 24, 32, 40, 48, 64, 256}) {
    const int id = ::LookupIconIdFromDirectoryEx(directory, TRUE, size, size, LR_DEFAULTCOLOR);
    ASSERT_NE(id, 0) << size;
    HRSRC picture = ::FindResourceW(m_module, MAKEINTRESOURCEW(id), RT_ICON);
    ASSERT_NE(picture, nullptr) << size;
    const auto* bytes = static_cast<const BYTE*>(::LockResource(::LoadResource(m_module, picture)));
    HICON icon = ::CreateIconFromResourceEx(const_cast<BYTE*>(bytes), ::SizeofResource(m_module, picture), TRUE,
                                            0x00030000, 0, 0, LR_DEFAULTCOLOR);
    ASSERT_NE(icon, nullptr) << size;
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(icon, &info));
    BITMAP colour{};
    ::GetObjectW(info.hbmColor, sizeof(colour), &colour);
    EXPECT_EQ(colour.bmWidth, size);
    EXPECT_EQ(colour.bmHeight, size);
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
    ::DestroyIcon(icon);
  }
}

INSTANTIATE_TEST_SUITE_P(Programs, ProgramResources, ::testing::ValuesIn(kPrograms),
                         [](const ::testing::TestParamInfo<Program>& info) {
                           return std::string(info.param.icon ? "WindowProgram" : "CommandLine");
                         });

}  // namespace
