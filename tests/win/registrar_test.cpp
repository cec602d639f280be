// Registration scripts: parsing (bad scripts fail fast, without touching the
// registry) and register/unregister against a scratch key.
#include <gtest/gtest.h>

#include <chrono>

#include "module/registrar.h"
#include "tests/harness/dispatch.h"

using namespace brisel;

namespace {

constexpr HRESULT kBad = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

TEST(RegistrarParse, ClassScriptShape) {
  const wchar_t* script =
      L"HKCR\n{\n  NoRemove CLSID\n  {\n    ForceRemove {01438495-1B56-4943-BE07-C0928392F486} = s 'NtFile Class'\n"
      L"    {\n      InprocServer32 = s '%MODULE%'\n      {\n        val ThreadingModel = s 'Free'\n      }\n"
      L"      'TypeLib' = s '{C16626B2-17CE-4795-97A5-72479DC3AB6B}'\n      Flags = d '0x10'\n    }\n  }\n}\n";
  std::vector<RegRoot> roots;
  ASSERT_EQ(ParseRegistrationScript(script, {{L"Module", L"C:\\it''s\\brisel.dll"}}, &roots), S_OK);
  ASSERT_EQ(roots.size(), 1u);
  EXPECT_EQ(roots[0].root, HKEY_CLASSES_ROOT);
  const RegKeyNode& clsid = roots[0].keys.at(0);
  const RegKeyNode& cls = clsid.children.at(0);
  EXPECT_TRUE(clsid.no_remove && !clsid.force_remove && cls.force_remove && !cls.no_remove);
  EXPECT_EQ(cls.name, L"{01438495-1B56-4943-BE07-C0928392F486}") << "a braced name is a key, not a block";
  EXPECT_EQ(cls.default_value.text, L"NtFile Class");
  const RegKeyNode& server = cls.children.at(0);
  EXPECT_EQ(server.default_value.text, L"C:\\it's\\brisel.dll") << "doubled apostrophes in a replacement";
  ASSERT_EQ(server.values.size(), 1u);
  EXPECT_EQ(server.values[0].first + L"=" + server.values[0].second.text, L"ThreadingModel=Free");
  EXPECT_EQ(cls.children.at(1).name, L"TypeLib");
  EXPECT_EQ(cls.children.at(2).default_value.kind, RegValue::Kind::kDword);
  EXPECT_EQ(cls.children.at(2).default_value.number, 0x10u);
}

TEST(RegistrarParse, MalformedScriptsFailAtOnce) {
  std::wstring deep = L"HKCR {";  // nesting far deeper than any registry path: refused, not recursed into
  for (int i = 0; i < 100000; ++i) deep += L" k {";
  const std::wstring bad[] = {
      L"HKCR\n{\n  Key = s 'v'\n",  L"HKCR\n{\n  Key = s 'v\n}\n", L"HKCR { Key = s '%NOPE%' }",
      L"HKCR { Key = s '%MODULE' }", L"HKXX { Key }",                L"HKCR { Key = d 'ten' }",
      L"HKCR { Key = q 'v' }",       L"HKCR { a\\b }",               L"HKCR Key",
      L"HKCR { Key = }",             deep};
  for (const std::wstring& script : bad) {
    std::vector<RegRoot> roots;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ParseRegistrationScript(script, {{L"MODULE", L"x.dll"}}, &roots), kBad) << test::Narrow(script.substr(0, 40));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  }
  std::vector<RegRoot> ok;  // ends right at its last brace
  ASSERT_EQ(ParseRegistrationScript(L"HKCR { '100%%' }", {}, &ok), S_OK);
  EXPECT_EQ(ok.at(0).keys.at(0).name, L"100%");
}

std::wstring Read(const std::wstring& path, const wchar_t* value = nullptr) {
  wchar_t buf[256];
  DWORD size = sizeof buf;
  return ::RegGetValueW(HKEY_CURRENT_USER, (L"Software\\BriselRegistrarTest" + path).c_str(), value, RRF_RT_REG_SZ,
                        nullptr, buf, &size) == ERROR_SUCCESS ? buf : L"<missing>";
}

bool KeyExists(const std::wstring& path) {
  UniqueRegKey key;
  return ::RegOpenKeyExW(HKEY_CURRENT_USER, (L"Software\\BriselRegistrarTest" + path).c_str(), 0, KEY_READ,
                         key.Put()) == ERROR_SUCCESS;
}

TEST(RegistrarRun, RegisterThenUnregisterKeepsNoRemoveKeysAndOthersContent) {
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\BriselRegistrarTest");
  // Another owner's key below a shared key, and stale content that ForceRemove clears.
  for (const wchar_t* path : {L"Software\\BriselRegistrarTest\\Shared\\Other", L"Software\\BriselRegistrarTest\\Shared\\Mine\\Stale"})
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, path, L"x", REG_SZ, L"", sizeof(wchar_t)), ERROR_SUCCESS);
  const wchar_t* script =
      L"HKCU { NoRemove Software { NoRemove BriselRegistrarTest {"
      L"  Shared { ForceRemove Mine = s 'mine' { Sub = s '%MODULE%' { val Model = s 'Free' } } } } } }";
  RegReplacements repl{{L"MODULE", L"C:\\m.dll"}};
  for (int twice = 0; twice < 2; ++twice) {  // registering twice is harmless
    ASSERT_EQ(RunRegistrationScript(script, repl, true), S_OK);
    EXPECT_EQ(Read(L"\\Shared\\Mine") + Read(L"\\Shared\\Mine\\Sub") + Read(L"\\Shared\\Mine\\Sub", L"Model"),
              L"mineC:\\m.dllFree");
    EXPECT_FALSE(KeyExists(L"\\Shared\\Mine\\Stale"));
  }
  for (int twice = 0; twice < 2; ++twice) {  // unregistering what is gone succeeds
    ASSERT_EQ(RunRegistrationScript(script, repl, false), S_OK);
    EXPECT_FALSE(KeyExists(L"\\Shared\\Mine"));
    EXPECT_TRUE(KeyExists(L"\\Shared\\Other")) << "another owner's key stays";
    EXPECT_TRUE(KeyExists(L"")) << "NoRemove";
  }
  // A parse error anywhere writes nothing.
  EXPECT_EQ(RunRegistrationScript(L"HKCU { Software { BriselRegistrarTest { Half = s 'a' } } Broken = s '%X%' }", {},
                                  true), kBad);
  EXPECT_FALSE(KeyExists(L"\\Half"));
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\BriselRegistrarTest");
}

}  // namespace
