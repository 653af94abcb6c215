#include "support/ftp_client.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "ftp/ftp_server.h"
#include "util/temp_dir.h"

namespace corvane::test {
namespace {

namespace fs = std::filesystem;
using ftp::ErrorKind;

struct EndpointCase {
  const char* text;
  bool valid;
  const char* host;
  int port;
};

TEST(FtpEndpoint, HostTextGivesHostAndPortOrIsRefused) {
  const EndpointCase cases[] = {
      {"ftp.example.org", true, "ftp.example.org", 21},
      {"127.0.0.1:2121", true, "127.0.0.1", 2121},
      {"backup-host_2:65535", true, "backup-host_2", 65535},
      {"[::1]:990", true, "[::1]", 990},
      {"[::1]", true, "[::1]", 21},
      {"", false, "", 0},
      {"user@host", false, "", 0},
      {"user:pw@host", false, "", 0},
      {"host\\sauve", false, "", 0},
      {"host/x", false, "", 0},
      {"host?x", false, "", 0},
      {"host#x", false, "", 0},
      {"ho st", false, "", 0},
      {"host%2f", false, "", 0},
      {"host:", false, "", 0},
      {"host:0", false, "", 0},
      {"host:65536", false, "", 0},
      {"host:21x", false, "", 0},
      {":21", false, "", 0},
      {"[::1", false, "", 0},
      {"[::1]x", false, "", 0},
      {"[a@b]", false, "", 0},
  };
  for (const auto& c : cases) {
    auto e = ftp::ParseEndpoint(c.text);
    ASSERT_EQ(e.has_value(), c.valid) << c.text;
    if (!e) continue;
    EXPECT_EQ(e->host, c.host) << c.text;
    EXPECT_EQ(e->port, c.port) << c.text;
  }
}

class FtpClientTest : public ::testing::Test {
 protected:
  TempDir dir;
  fs::path root = dir / "root";
  fs::path local = dir / "local";
  std::unique_ptr<FtpServer> server;

  void StartServer(std::vector<std::string> extra = {}) {
    fs::create_directories(local);
    FtpServer::Options o;
    o.extra = std::move(extra);
    server = std::make_unique<FtpServer>(root, dir / "server", o);
  }

  ftp::Settings Settings(std::string password = "secret") {
    ftp::Settings s;
    s.endpoint = *ftp::ParseEndpoint(server->host());
    s.user = "user";
    s.password = std::move(password);
    s.connect_timeout = std::chrono::seconds(5);
    s.reply_timeout = std::chrono::seconds(10);
    s.stall_timeout = std::chrono::seconds(10);
    return s;
  }

  fs::path LocalFile(const std::string& name, const std::string& content) {
    WriteAll(local / name, content);
    return local / name;
  }

  static ErrorKind KindOf(const std::function<void()>& f) {
    try {
      f();
    } catch (const ftp::Error& e) {
      return e.kind();
    }
    ADD_FAILURE() << "no error";
    return ErrorKind::Local;
  }
};

std::vector<std::string> Without(std::vector<std::string> cmds, std::initializer_list<std::string_view> prefixes) {
  cmds.erase(std::remove_if(cmds.begin(), cmds.end(),
                            [&](const std::string& c) {
                              return std::any_of(prefixes.begin(), prefixes.end(),
                                                 [&](std::string_view p) { return c.rfind(p, 0) == 0; });
                            }),
             cmds.end());
  return cmds;
}

TEST_F(FtpClientTest, SessionMovesStoresReplacesListsFetchesAndDeletesOverOneConnection) {
  StartServer();
  std::vector<std::string> status;
  ftp::Client c(Settings(), {[&](const std::string& s) { status.push_back(s); }, {}});
  c.Connect();
  EXPECT_TRUE(c.Connected());
  EXPECT_EQ(c.Pwd(), "/");
  c.Mkd("sauve");
  c.Cwd("sauve");
  EXPECT_EQ(c.Pwd(), "/sauve");
  c.Stor(LocalFile("a.txt", "first version, long"), "a.txt");
  c.Stor(LocalFile("a.txt", "second"), "a.txt");
  EXPECT_EQ(ReadAll(root / "sauve/a.txt"), "second") << "an upload replaces, never appends";
  c.Stor(LocalFile("b c#%.txt", "odd name"), "my file #1%.txt");
  EXPECT_EQ(ReadAll(root / "sauve/my file #1%.txt"), "odd name");

  auto lines = c.List();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].substr(0, 1), "-");
  EXPECT_TRUE(lines[0].ends_with(" a.txt")) << lines[0];
  EXPECT_TRUE(lines[1].ends_with(" my file #1%.txt")) << lines[1];

  c.Retr("a.txt", local / "fetched");
  EXPECT_EQ(ReadAll(local / "fetched"), "second");
  c.Dele("a.txt");
  EXPECT_FALSE(fs::exists(root / "sauve/a.txt"));
  c.Cdup();
  EXPECT_EQ(c.Pwd(), "/");
  c.Noop();
  c.Dele("sauve/my file #1%.txt");
  c.Rmd("sauve");
  EXPECT_FALSE(fs::exists(root / "sauve"));
  c.Disconnect();
  EXPECT_FALSE(c.Connected());
  ASSERT_TRUE(server->WaitFor("1 DISCONNECT"));

  EXPECT_EQ(server->Sessions(), 1) << "one control connection for the whole phase";
  auto cmds = server->Commands();
  // libcurl adds a PWD after login and its own TYPE before each transfer;
  // the rest is ours, in order, with the data connections announced by PORT.
  auto ours = Without(cmds, {"PORT ", "TYPE A", "TYPE I"});
  EXPECT_EQ(ours, (std::vector<std::string>{"USER user", "PASS ****", "PWD", "SYST", "PWD", "MKD sauve", "CWD sauve",
                                            "PWD", "STOR a.txt", "STOR a.txt", "STOR my file #1%.txt", "LIST",
                                            "RETR a.txt", "DELE a.txt", "CDUP", "PWD", "NOOP",
                                            "DELE sauve/my file #1%.txt", "RMD sauve", "QUIT"}));
  EXPECT_EQ(std::count_if(cmds.begin(), cmds.end(), [](auto& s) { return s.rfind("PORT ", 0) == 0; }), 5)
      << "active mode for each of the five transfers";
  EXPECT_EQ(cmds[3], "TYPE I") << "image type right after login";
  for (const auto& s : status) EXPECT_EQ(s.find("secret"), std::string::npos);
  EXPECT_EQ(status.front(), "Connecting to 127.0.0.1.");
}

TEST_F(FtpClientTest, RefusedCommandsFailAloneAndLeaveTheConnectionUsable) {
  StartServer();
  fs::create_directories(root / "exists");
  ftp::Client c(Settings());
  c.Connect();
  const std::pair<const char*, std::function<void()>> refused[] = {
      {"CWD", [&] { c.Cwd("missing"); }},
      {"MKD", [&] { c.Mkd("exists"); }},
      {"RMD", [&] { c.Rmd("missing"); }},
      {"DELE", [&] { c.Dele("missing"); }},
      {"RETR", [&] { c.Retr("missing", local / "got"); }},
      {"STOR", [&] { c.Stor(LocalFile("x", "x"), "missing/x"); }},
  };
  for (const auto& [label, call] : refused) {
    try {
      call();
      ADD_FAILURE() << label << " succeeded";
    } catch (const ftp::Error& e) {
      EXPECT_EQ(e.kind(), ErrorKind::Refused) << label << ": " << e.what();
      EXPECT_GE(e.reply_code(), 500) << label;
    }
    EXPECT_TRUE(c.Connected()) << label;
    c.Noop();
  }
  EXPECT_FALSE(fs::exists(local / "got")) << "a failed download leaves no local file";
  EXPECT_FALSE(fs::exists(local / "got.part"));
  EXPECT_EQ(KindOf([&] { c.Cwd("a\r\nDELE x"); }), ErrorKind::Refused) << "no command smuggled in a name";
  EXPECT_EQ(KindOf([&] { c.Stor(local / "no such local file", "y"); }), ErrorKind::Local);
  EXPECT_EQ(server->Sessions(), 1);
  auto cmds = server->Commands();
  EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "DELE x"), 0);
}

TEST_F(FtpClientTest, FailedConnectionsAreConnectionErrors) {
  StartServer();
  {
    ftp::Client c(Settings("wrong"));
    EXPECT_EQ(KindOf([&] { c.Connect(); }), ErrorKind::Connection) << "login refused";
    EXPECT_FALSE(c.Connected());
    EXPECT_EQ(KindOf([&] { c.Pwd(); }), ErrorKind::Connection) << "nothing sent without a connection";
  }
  auto s = Settings();
  s.endpoint.port = 1;  // nothing listens on a privileged port here
  ftp::Client closed(s);
  EXPECT_EQ(KindOf([&] { closed.Connect(); }), ErrorKind::Connection);
  auto cmds = server->Commands();
  EXPECT_EQ(cmds, (std::vector<std::string>{"USER user", "PASS ****"}));
}

TEST_F(FtpClientTest, ADroppedConnectionIsNeverSilentlyReplacedByOneInTheLoginFolder) {
  StartServer({"--drop-after-stor", "1"});
  fs::create_directories(root / "sub");
  ftp::Client c(Settings());
  c.Connect();
  c.Cwd("sub");
  c.Stor(LocalFile("a", "a"), "a");
  ASSERT_TRUE(server->WaitFor("1 DISCONNECT"));
  EXPECT_EQ(KindOf([&] { c.Stor(LocalFile("b", "b"), "b"); }), ErrorKind::Connection);
  EXPECT_FALSE(c.Connected());
  EXPECT_FALSE(fs::exists(root / "b")) << "the upload must not land in the login folder";
  EXPECT_EQ(server->Sessions(), 1) << "no login behind our back";
  // An explicit reconnection, the folder restored by the caller.
  c.Connect();
  c.Cwd("sub");
  c.Stor(local / "b", "b");
  EXPECT_EQ(ReadAll(root / "sub/b"), "b");
  EXPECT_FALSE(fs::exists(root / "b"));
}

TEST_F(FtpClientTest, ProgressIsReportedAndCancelEndsTheTransferAndTheConnection) {
  StartServer();
  const std::string big(8 << 20, 'x');
  auto file = LocalFile("big", big);
  std::uint64_t last_done = 0, last_total = 0;
  int calls = 0;
  ftp::Client* self = nullptr;
  bool cancel = false;
  ftp::Client c(Settings(), {{}, [&](std::uint64_t done, std::uint64_t total) {
                               ++calls;
                               EXPECT_GE(done, last_done) << "progress never goes back";
                               last_done = done;
                               last_total = total;
                               if (cancel && done > 0) self->Cancel();
                             }});
  self = &c;
  c.Connect();
  c.Stor(file, "big");
  EXPECT_GT(calls, 0);
  EXPECT_EQ(last_done, big.size());
  EXPECT_EQ(last_total, big.size());

  cancel = true;
  last_done = 0;
  EXPECT_EQ(KindOf([&] { c.Stor(file, "big2"); }), ErrorKind::Cancelled);
  EXPECT_FALSE(c.Connected());
  EXPECT_LT(last_done, big.size());
  cancel = false;
  c.Cancel();  // outside a transfer: no effect on the next one
  c.Connect();
  last_done = 0;
  c.Retr("big", local / "back");
  EXPECT_EQ(fs::file_size(local / "back"), big.size());
}

}  // namespace
}  // namespace corvane::test
