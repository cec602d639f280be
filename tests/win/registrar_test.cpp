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
      L"HKCR\n{\n"
      L"  NoRemove CLSID\n  {\n"
      L"    ForceRemove {01438495-1B56-4943-BE07-C0928392F486} = s 'NtFile Class'\n    {\n"
      L"      InprocServer32 = s '%MODULE%'\n      {\n        val ThreadingModel = s 'Free'\n      }\n"
      L"      'TypeLib' = s '{C16626B2-17CE-4795-97A5-72479DC3AB6B}'\n"
      L"      Flags = d '0x10'\n"
      L"    }\n  }\n}\n";
  RegReplacements repl{{L"Module", L"C:\\it''s\\brisel.dll"}};
  std::vector<RegRoot> roots;
  ASSERT_EQ(ParseRegistrationScript(script, repl, &roots), S_OK);
  ASSERT_EQ(roots.size(), 1u);
  EXPECT_EQ(roots[0].root, HKEY_CLASSES_ROOT);
  const RegKeyNode& clsid = roots[0].keys.at(0);
  EXPECT_TRUE(clsid.no_remove);
  const RegKeyNode& cls = clsid.children.at(0);
  EXPECT_TRUE(cls.force_remove);
  EXPECT_EQ(cls.name, L"{01438495-1B56-4943-BE07-C0928392F486}") << "a braced name is a key, not a block";
  EXPECT_EQ(cls.default_value.text, L"NtFile Class");
  const RegKeyNode& server = cls.children.at(0);
  EXPECT_EQ(server.default_value.text, L"C:\\it's\\brisel.dll") << "doubled apostrophes in a replacement";
  ASSERT_EQ(server.values.size(), 1u);
  EXPECT_EQ(server.values[0].first, L"ThreadingModel");
  EXPECT_EQ(server.values[0].second.text, L"Free");
  EXPECT_EQ(cls.children.at(1).name, L"TypeLib");
  EXPECT_EQ(cls.children.at(2).default_value.kind, RegValue::Kind::kDword);
  EXPECT_EQ(cls.children.at(2).default_value.number, 0x10u);
}

TEST(RegistrarParse, MalformedScriptsFailAtOnce) {
  RegReplacements repl{{L"MODULE", L"x.dll"}};
  const wchar_t* bad[] = {
      L"HKCR\n{\n  Key = s 'v'\n",          // missing closing brace
      L"HKCR\n{\n  Key = s 'v\n}\n",        // unterminated string
      L"HKCR { Key = s '%NOPE%' }",          // unknown replacement
      L"HKCR { Key = s '%MODULE' }",         // unterminated replacement
      L"HKXX { Key }",                       // unknown root
      L"HKCR { Key = d 'ten' }",             // not a number
      L"HKCR { Key = q 'v' }",               // unknown value type
      L"HKCR { a\\b }",                      // key names hold no backslash
      L"HKCR Key",                           // root without block
      L"HKCR { Key = }",                     // value without type and data
  };
  for (const wchar_t* script : bad) {
    std::vector<RegRoot> roots;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ParseRegistrationScript(script, repl, &roots), kBad) << brisel::test::Narrow(script);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  }
  // Nesting far deeper than any registry path is refused, not recursed into.
  std::wstring deep = L"HKCR {";
  for (int i = 0; i < 100000; ++i) deep += L" k {";
  std::vector<RegRoot> roots;
  EXPECT_EQ(ParseRegistrationScript(deep, repl, &roots), kBad);
  std::vector<RegRoot> ok;
  EXPECT_EQ(ParseRegistrationScript(L"HKCR { '100%%' }", repl, &ok), S_OK);
  EXPECT_EQ(ok.at(0).keys.at(0).name, L"100%");
}

std::wstring ReadString(const wchar_t* path, const wchar_t* value) {
  wchar_t buf[256];
  DWORD size = sizeof buf;
  LSTATUS rc = ::RegGetValueW(HKEY_CURRENT_USER, path, value, RRF_RT_REG_SZ, nullptr, buf, &size);
  return rc == ERROR_SUCCESS ? std::wstring(buf) : L"<missing>";
}

bool KeyExists(const wchar_t* path) {
  UniqueRegKey key;
  return ::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

TEST(RegistrarRun, RegisterThenUnregisterKeepsNoRemoveKeysAndOthersContent) {
  const wchar_t* base = L"Software\\BriselRegistrarTest";
  ::RegDeleteTreeW(HKEY_CURRENT_USER, base);
  // Something of another owner below a shared key, and stale content that ForceRemove clears.
  {
    UniqueRegKey k;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\BriselRegistrarTest\\Shared\\Other", 0, nullptr, 0,
                                KEY_WRITE, nullptr, k.Put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\BriselRegistrarTest\\Shared\\Mine\\Stale", 0, nullptr,
                                0, KEY_WRITE, nullptr, k.Put(), nullptr),
              ERROR_SUCCESS);
  }
  const wchar_t* script =
      L"HKCU { NoRemove Software { NoRemove BriselRegistrarTest {"
      L"  Shared { ForceRemove Mine = s 'mine' { Sub = s '%MODULE%' { val Model = s 'Free' } } } } } }";
  RegReplacements repl{{L"MODULE", L"C:\\m.dll"}};
  ASSERT_EQ(RunRegistrationScript(script, repl, true), S_OK);
  EXPECT_EQ(ReadString(L"Software\\BriselRegistrarTest\\Shared\\Mine", nullptr), L"mine");
  EXPECT_EQ(ReadString(L"Software\\BriselRegistrarTest\\Shared\\Mine\\Sub", nullptr), L"C:\\m.dll");
  EXPECT_EQ(ReadString(L"Software\\BriselRegistrarTest\\Shared\\Mine\\Sub", L"Model"), L"Free");
  EXPECT_FALSE(KeyExists(L"Software\\BriselRegistrarTest\\Shared\\Mine\\Stale"));
  // Registering twice is harmless.
  ASSERT_EQ(RunRegistrationScript(script, repl, true), S_OK);

  ASSERT_EQ(RunRegistrationScript(script, repl, false), S_OK);
  EXPECT_FALSE(KeyExists(L"Software\\BriselRegistrarTest\\Shared\\Mine"));
  EXPECT_TRUE(KeyExists(L"Software\\BriselRegistrarTest\\Shared\\Other")) << "another owner's key stays";
  EXPECT_TRUE(KeyExists(L"Software\\BriselRegistrarTest")) << "NoRemove";
  // Unregistering what is gone succeeds.
  EXPECT_EQ(RunRegistrationScript(script, repl, false), S_OK);
  ::RegDeleteTreeW(HKEY_CURRENT_USER, base);
}

TEST(RegistrarRun, AParseErrorWritesNothing) {
  ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\BriselRegistrarHalf");
  RegReplacements repl;
  EXPECT_EQ(RunRegistrationScript(L"HKCU { Software { BriselRegistrarHalf = s 'a' } Broken = s '%X%' }", repl, true),
            kBad);
  EXPECT_FALSE(KeyExists(L"Software\\BriselRegistrarHalf"));
}

}  // namespace
