// The program's resources as Windows reads them: resources/Kestrin.rc is
// compiled into a resource-only DLL beside this test (KestrinResources.dll),
// which the test loads as data. The manifests are parsed as XML, since the
// loader refuses to start a program whose manifest is malformed.

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <filesystem>
#include <set>
#include <string>

// The wide forms of RT_MANIFEST and the like.
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

namespace {

constexpr WORD kFrench = 1036;
constexpr WORD kUsEnglish = 1033;
constexpr const char* kVistaId = "{e2011457-1546-43c5-a5fe-008deee3d3f0}";
constexpr const char* kWindows7Id = "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}";

std::filesystem::path probePath() {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  return std::filesystem::path(path).parent_path() / L"KestrinResources.dll";
}

class WindowsResources : public ::testing::Test {
 protected:
  void SetUp() override {
    m_module = ::LoadLibraryExW(probePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(m_module, nullptr) << "cannot load " << probePath().string() << ": error " << ::GetLastError();
  }
  void TearDown() override {
    if (m_module != nullptr) ::FreeLibrary(m_module);
  }

  // The manifest of id 1 in `language`, parsed; fails the test when it is
  // missing or not well-formed XML.
  void loadManifest(WORD language, pugi::xml_document& document) {
    HRSRC found = ::FindResourceExW(m_module, RT_MANIFEST, MAKEINTRESOURCEW(1), language);
    ASSERT_NE(found, nullptr) << "no manifest in language " << language;
    HGLOBAL loaded = ::LoadResource(m_module, found);
    ASSERT_NE(loaded, nullptr);
    const void* bytes = ::LockResource(loaded);
    const DWORD size = ::SizeofResource(m_module, found);
    const pugi::xml_parse_result parsed = document.load_buffer(bytes, size);
    ASSERT_TRUE(parsed) << parsed.description();
  }

  HMODULE m_module = nullptr;
};

BOOL CALLBACK collectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
  reinterpret_cast<std::set<ULONG_PTR>*>(names)->insert(IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name) : 0);
  return TRUE;
}

BOOL CALLBACK collectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR languages) {
  reinterpret_cast<std::set<WORD>*>(languages)->insert(language);
  return TRUE;
}

std::string executionLevel(const pugi::xml_document& manifest) {
  return manifest.child("assembly")
      .child("trustInfo")
      .child("security")
      .child("requestedPrivileges")
      .child("requestedExecutionLevel")
      .attribute("level")
      .value();
}

TEST_F(WindowsResources, HoldTwoManifestsOfIdOneInFrenchAndUsEnglish) {
  std::set<ULONG_PTR> names;
  ::EnumResourceNamesW(m_module, RT_MANIFEST, collectName, reinterpret_cast<LONG_PTR>(&names));
  EXPECT_EQ(names, (std::set<ULONG_PTR>{1}));
  std::set<WORD> languages;
  ::EnumResourceLanguagesW(m_module, RT_MANIFEST, MAKEINTRESOURCEW(1), collectLanguage,
                           reinterpret_cast<LONG_PTR>(&languages));
  EXPECT_EQ(languages, (std::set<WORD>{kUsEnglish, kFrench}));
}

TEST_F(WindowsResources, FrenchManifestAsksForAdministratorOnVistaAndWindows7) {
  pugi::xml_document manifest;
  loadManifest(kFrench, manifest);
  EXPECT_EQ(executionLevel(manifest), "requireAdministrator");
  std::set<std::string> systems;
  for (pugi::xml_node os : manifest.child("assembly").child("compatibility").child("application").children("supportedOS")) {
    systems.insert(os.attribute("Id").value());
  }
  EXPECT_EQ(systems, (std::set<std::string>{kVistaId, kWindows7Id}));
  EXPECT_FALSE(manifest.child("assembly").child("dependency"));
}

TEST_F(WindowsResources, UsEnglishManifestAsksForCommonControlsSixAsInvoker) {
  pugi::xml_document manifest;
  loadManifest(kUsEnglish, manifest);
  EXPECT_EQ(executionLevel(manifest), "asInvoker");
  const pugi::xml_node identity =
      manifest.child("assembly").child("dependency").child("dependentAssembly").child("assemblyIdentity");
  EXPECT_STREQ(identity.attribute("name").value(), "Microsoft.Windows.Common-Controls");
  EXPECT_STREQ(identity.attribute("version").value(), "6.0.0.0");
  EXPECT_STREQ(identity.attribute("type").value(), "win32");
  EXPECT_STREQ(identity.attribute("publicKeyToken").value(), "6595b64144ccf1df");
}

TEST_F(WindowsResources, VersionRecordSaysZeroPointOne) {
  const std::wstring path = probePath().wstring();
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::string block(size, '\0');
  ASSERT_TRUE(::GetFileVersionInfoW(path.c_str(), 0, size, block.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00000001u);  // 0.1
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00000001u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  wchar_t* text = nullptr;
  UINT textSize = 0;
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                               reinterpret_cast<void**>(&text), &textSize));
  EXPECT_EQ(std::wstring(text), L"0.1");
  ASSERT_TRUE(::VerQueryValueW(block.data(), L"\\StringFileInfo\\040904B0\\ProductName",
                               reinterpret_cast<void**>(&text), &textSize));
  EXPECT_EQ(std::wstring(text), L"Kestrin");
}

}  // namespace
