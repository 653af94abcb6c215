// encrypt, decrypt, usage errors, help and the terminal through the real
// executable.
#include "cli_fixture.h"
#include "support/container.h"

namespace corvane::test {
namespace {

class ContainerCommandTest : public CliTest {
 protected:
  fs::path plain = dir / "rapport.doc";
  const std::string content = std::string("Rapport annuel\n") + std::string(20000, '\x7f') + "fin";

  void SetUp() override {
    CliTest::SetUp();
    WriteAll(plain, content);
    WriteAll(dir / "pw", "mot de passe\n");
  }
};

TEST_F(ContainerCommandTest, EncryptThenDecryptRoundTrips) {
  auto e = Cli({"encrypt", plain.string(), "--password-file", (dir / "pw").string()});
  ASSERT_EQ(e.exit_code, 0) << e.err;
  EXPECT_NE(e.err.find(Mess("Filecrypt")), std::string::npos);
  const fs::path container = dir / "rapport.doc.ccv";
  // The password enters the cipher as its bytes, without the line end:
  // the container is the one the library makes for that password.
  fs::copy_file(plain, dir / "twin.doc");
  EncryptFileToContainer(dir / "twin.doc", "mot de passe");
  EXPECT_EQ(ReadAll(container), ReadAll(dir / "twin.doc.ccv"));
  EXPECT_EQ(ReadAll(plain), content);

  fs::remove(plain);
  // From standard input this time, as a script would pipe it.
  auto d = Cli({"decrypt", container.string()}, "mot de passe\n");
  ASSERT_EQ(d.exit_code, 0) << d.err;
  EXPECT_NE(d.err.find(Mess("Filedecrypt")), std::string::npos);
  EXPECT_EQ(ReadAll(plain), content);
  EXPECT_TRUE(fs::exists(container));
}

TEST_F(ContainerCommandTest, WrongPasswordExitsFiveAndWritesNothing) {
  EncryptFileToContainer(plain, "mot de passe");
  fs::remove(plain);
  auto d = Cli({"decrypt", (dir / "rapport.doc.ccv").string()}, "autre chose");
  EXPECT_EQ(d.exit_code, 5) << d.err;
  EXPECT_NE(d.err.find(Mess("BadPassword")), std::string::npos) << d.err;
  EXPECT_FALSE(fs::exists(plain));
  EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"config", "dest", "home", "origin", "pw", "rapport.doc.ccv",
                                                  "run", "state"}));
}

TEST_F(ContainerCommandTest, ReplacingIsRefusedUnlessForced) {
  const fs::path container = dir / "rapport.doc.ccv";
  WriteAll(container, "older container");
  auto refused = Cli({"encrypt", plain.string(), "--password-file", (dir / "pw").string()});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find(Mess("CliExisteDeja")), std::string::npos) << refused.err;
  EXPECT_EQ(ReadAll(container), "older container");
  auto forced = Cli({"encrypt", plain.string(), "--password-file", (dir / "pw").string(), "--force"});
  ASSERT_EQ(forced.exit_code, 0) << forced.err;

  // The same rule on the way back: the plain file beside is kept.
  WriteAll(plain, "edited since");
  auto kept = Cli({"decrypt", container.string(), "--password-file", (dir / "pw").string()});
  EXPECT_EQ(kept.exit_code, 1);
  EXPECT_EQ(ReadAll(plain), "edited since");
  auto replaced = Cli({"decrypt", container.string(), "--password-file", (dir / "pw").string(), "--force"});
  ASSERT_EQ(replaced.exit_code, 0) << replaced.err;
  EXPECT_EQ(ReadAll(plain), content);
}

TEST_F(ContainerCommandTest, InputsThatCannotWork) {
  fs::create_directories(dir / "x.ccv");
  const std::vector<std::tuple<std::vector<std::string>, std::string, std::string>> cases = {
      {{"encrypt", (dir / "missing").string()}, "mot", "ErrorOpenSource"},
      {{"encrypt", (dir / "origin").string()}, "mot", "ErrorOpenSource"},
      {{"encrypt", plain.string()}, "", "PasswordPlease"},
      {{"decrypt", plain.string()}, "mot", "CliPasConteneur"},
      {{"decrypt", (dir / ".ccv").string()}, "mot", "CliPasConteneur"},
      {{"decrypt", (dir / "missing.ccv").string()}, "mot", "ErrorOpen"},
      {{"decrypt", (dir / "x.ccv").string()}, "mot", "ErrorOpen"},
      {{"encrypt", plain.string(), "--password-file", (dir / "none").string()}, "", "CliFichierIllisible"},
  };
  for (const auto& [args, input, key] : cases) {
    auto r = Cli(args, input);
    EXPECT_EQ(r.exit_code, 1) << args[1];
    EXPECT_NE(r.err.find(Mess(key)), std::string::npos) << args[1] << ": " << r.err;
  }
  EXPECT_FALSE(fs::exists(dir / "rapport.doc.ccv"));
  EXPECT_FALSE(fs::exists(dir / "missing"));
}

struct UsageCase {
  std::string label;
  std::vector<std::string> args;
  std::string key;    // the message
  std::string usage;  // the usage shown after it
};
void PrintTo(const UsageCase& c, std::ostream* os) { *os << c.label; }

class UsageTest : public CliTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(UsageTest, ExitsOneWithMessageAndUsage) {
  const UsageCase& c = GetParam();
  auto r = Cli(c.args);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find(Mess(c.key)), std::string::npos) << r.err;
  const std::string usage = Mess(c.usage);
  EXPECT_NE(r.err.find(usage.substr(0, usage.find("\\n"))), std::string::npos) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Errors, UsageTest,
    ::testing::ValuesIn(std::vector<UsageCase>{
        {"NoCommand", {}, "CliCommandeManquante", "CliAide"},
        {"UnknownCommand", {"backup"}, "CliCommandeInconnue", "CliAide"},
        {"UnknownOption", {"list", "--all"}, "CliOptionInconnue", "CliAideList"},
        {"ShortOption", {"run", "-n", "Docs"}, "CliOptionInconnue", "CliAideRun"},
        {"SwitchWithValue", {"run", "Docs", "--no-limits=yes"}, "CliValeurIncorrecte", "CliAideRun"},
        {"MissingName", {"show"}, "CliArgumentManquant", "CliAideShow"},
        {"TooManyArguments", {"delete", "A", "B"}, "CliTropArguments", "CliAideDelete"},
        {"MissingPasswordFile", {"encrypt", "f", "--password-file"}, "CliValeurManquante", "CliAideEncrypt"},
        {"BadJournalDate", {"journal", "Docs", "32/01/2024"}, "ErreurDate", "CliAideJournal"},
    }),
    [](const auto& tp) { return tp.param.label; });

TEST_F(CliTest, HelpOnTheToolAndEveryCommand) {
  const std::vector<std::pair<std::string, std::string>> commands = {
      {"list", "CliAideList"},       {"show", "CliAideShow"},         {"create", "CliAideCreate"},
      {"delete", "CliAideDelete"},   {"run", "CliAideRun"},           {"mirror", "CliAideMirror"},
      {"purge", "CliAidePurge"},     {"suspend", "CliAideSuspend"},   {"journal", "CliAideJournal"},
      {"calendar", "CliAideCalendar"}, {"encrypt", "CliAideEncrypt"}, {"decrypt", "CliAideDecrypt"}};
  for (const auto& [command, key] : commands) {
    auto r = Cli({command, "--help"});
    EXPECT_EQ(r.exit_code, 0) << command;
    EXPECT_EQ(r.out.rfind("Utilisation : corvane " + command, 0), 0u) << command << ": " << r.out;
  }
  auto top = Cli({"--help"});
  EXPECT_EQ(top.exit_code, 0);
  for (const auto& [command, key] : commands) EXPECT_NE(top.out.find("  " + command + " "), std::string::npos);
  auto v = Cli({"--version"});
  EXPECT_EQ(v.exit_code, 0);
  EXPECT_EQ(v.out.rfind("corvane 3.", 0), 0u) << v.out;
}

TEST_F(CliTest, MessagesFollowTheUsersLanguage) {
  // The language the console and the manager keep for the user.
  auto reg = Registry();
  ASSERT_TRUE(StoreLanguage(reg, "English"));
  auto r = Cli({"show", "Nope"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find(Mess("CliDossierInconnu", "English") + "Nope"), std::string::npos) << r.err;
  auto h = Cli({"run", "--help"});
  EXPECT_EQ(h.out.rfind("Usage: corvane run", 0), 0u) << h.out;
}

// On a terminal: the secret is typed without echo, and a run shows its
// progress below the journal lines.
class TerminalTest : public CliTest {
 protected:
  CommandOutput OnTerminal(const std::string& prompt, const std::string& answer, std::vector<std::string> args) {
    std::vector<std::string> argv = {CORVANE_PYTHON, std::string(CORVANE_SOURCE_DIR) + "/tests/cli/pty_run.py",
                                     prompt, answer, "--", CORVANE_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommandCapture(argv);
  }
};

TEST_F(TerminalTest, PasswordIsReadWithoutEcho) {
  WriteAll(dir / "secret.txt", "contenu");
  auto r = OnTerminal(Mess("Password") + " : ", "tapé au clavier", {"encrypt", (dir / "secret.txt").string()});
  ASSERT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_EQ(r.out.find("tapé au clavier"), std::string::npos) << r.out;
  fs::remove(dir / "secret.txt");
  ASSERT_EQ(DecryptContainerToFile(dir / "secret.txt.ccv", dir / "secret.txt", "tapé au clavier"),
            DecryptResult::Done);
  EXPECT_EQ(ReadAll(dir / "secret.txt"), "contenu");
}

TEST_F(TerminalTest, InterruptAtThePromptAbandonsTheEntry) {
  WriteAll(dir / "secret.txt", "contenu");
  auto r = OnTerminal(Mess("Password") + " : ", "abc\x03", {"encrypt", (dir / "secret.txt").string()});
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_NE(r.out.find(Mess("CliPasDeTerminal")), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(dir / "secret.txt.ccv"));
}

TEST_F(TerminalTest, KeyOfAnEncryptedFolderIsAskedOnTheTerminal) {
  auto r = OnTerminal(Mess("CliClef") + " : ", "clef tapée",
                      {"create", "Sec", "--kind", "crypt", "--origin", origin.string(), "--destination",
                       dest.string()});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(r.out.find("clef tapée"), std::string::npos) << r.out;
  auto reg = Registry();
  EXPECT_TRUE(FolderRegister(reg).Contains("Sec"));
}

TEST_F(TerminalTest, NoKeyIsAskedForAFolderRefusedAnyway) {
  CreateFolder("Sec");
  auto r = OnTerminal("", "", {"create", "sec", "--kind", "crypt", "--origin", origin.string(), "--destination",
                               dest.string()});
  EXPECT_EQ(r.exit_code, 1) << r.out;
  EXPECT_NE(r.out.find(Mess("ErreurNomDossier")), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find(Mess("CliClef")), std::string::npos) << r.out;
}

TEST_F(TerminalTest, RunShowsProgressOfFilesAndBytes) {
  WriteOrigin("a.txt", "12345");
  WriteOrigin("b.txt", "1234567");
  CreateFolder("Docs");
  auto r = OnTerminal("", "", {"run", "Docs"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("1/2 fichiers, 5/12 octets"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("2/2 fichiers, 12/12 octets"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find((origin / "b.txt").string()), std::string::npos) << r.out;
}

}  // namespace
}  // namespace corvane::test
