// The `quorvel` program as a front end runs it: headless, against generated disc images.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <thread>

#include "tests/app/app_test_util.h"
#include "tests/fixtures/cddb/cddb_fixture.h"
#include "tools/mkdisc/disc_maker.h"

namespace qv {
namespace {

using namespace qv::test;

const std::string kQuorvel = std::string(QV_BINARY_DIR) + "/bin/quorvel";
// The CD database server is reached through a proxy on a closed port: a lookup without a
// local entry fails at once instead of asking the internet.
constexpr const char* kNoServer = "[PROXY]\nProxyIP=127.0.0.1\nProxyPort=1\n";

class QuorvelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::chmod(dir_.Path().c_str(), 0700);
    WriteText(dir_.File("Quorvel.ini"), std::string(kNoServer) + "[CONF]\nspace_char=_\n");
  }

  void MakeDisc(std::vector<uint32_t> Sectors, uint32_t DataSectors = 0) {
    DiscSpec spec;
    for (uint32_t n : Sectors) spec.AudioTracks.push_back({n});
    spec.DataSectors = DataSectors;
    WriteDiscImage(spec, dir_.File("disc.cue"));
  }

  std::string Environment() const {
    return "cd " + Quote(dir_.Path()) + " && QUORVEL_CDROM=" + Quote(dir_.File("disc.cue")) +
           " QUORVEL_INI=" + Quote(dir_.File("Quorvel.ini")) +
           " XDG_RUNTIME_DIR=" + Quote(dir_.Path()) + " QUORVEL_DISPLAY=headless " + extraEnv_;
  }

  CommandResult Quorvel(const std::string& Args) {
    return RunCommand(Environment() + "timeout 300 " + Quote(kQuorvel) + " " + Args);
  }

  // Starts quorvel in the background; its output goes to `Output`, or only its standard
  // error when its standard output is `Stdout`.
  pid_t Spawn(const std::string& Args, const std::string& Output, int Stdout = -1,
              const std::string& Variables = "") {
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (Stdout >= 0) {
        ::dup2(Stdout, 1);
        ::signal(SIGPIPE, SIG_DFL);  // as a shell would start it
      }
      const std::string command = Environment() + Variables + "exec " + Quote(kQuorvel) + " " +
                                  Args + (Stdout >= 0 ? " 2> " : " > ") + Quote(Output) +
                                  (Stdout >= 0 ? "" : " 2>&1");
      ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    return pid;
  }

  static int Wait(pid_t Pid) {
    int status = 0;
    ::waitpid(Pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Checks `Condition` until it holds or a generous deadline passes.
  template <class F>
  static bool Eventually(F Condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!Condition()) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  ScratchDir dir_;
  std::string extraEnv_;  // more variables for the program ("NAME=value ")
};

TEST_F(QuorvelTest, AutoRipWritesEveryTrackAndSaysWhere) {
  MakeDisc({100, 80});
  const auto r = Quorvel("-auto -format=FLAC -pathtoenc=" + Quote(dir_.File("out/")));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(
      r.output.find("Written: " + dir_.File("out/Unknown_Artist/Unknown_Album/01 - Track_1.flac")),
      std::string::npos)
      << r.output;
  EXPECT_EQ(FilesBelow(dir_.File("out")),
            (std::vector<std::string>{"Unknown_Artist/Unknown_Album/01 - Track_1.flac",
                                      "Unknown_Artist/Unknown_Album/02 - Track_2.flac"}));
  EXPECT_NE(r.output.find("Rip done !"), std::string::npos);
  // The first run in a fresh folder starts the local CD database without a complaint.
  EXPECT_EQ(r.output.find("Couldn't"), std::string::npos) << r.output;
  const std::vector<std::string> database = FilesBelow(dir_.File("CDDB"));
  EXPECT_EQ(database.size(), 100u);  // 01.idx .. 99.idx and cat.idx; no index.log
  EXPECT_EQ(database.back(), "cat.idx");
}

// A local database entry names and tags the files; it is read, not written back.
TEST_F(QuorvelTest, LocalDatabaseEntryNamesAndTagsTheFiles) {
  MakeDisc({120, 90});
  const auto entry =
      RunCommand(Environment() + Quote(std::string(QV_BINARY_DIR) + "/bin/qv-demo-entry") +
                 " db misc 'Jane Doe' 'Songs: 1' 2001 'First / One' 'Second'");
  ASSERT_EQ(entry.status, 0) << entry.output;
  WriteText(dir_.File("Quorvel.ini"), std::string(kNoServer) + "[CONF]\nlocalCDDB=db\n");
  const std::string stored = ReadText(dir_.File("db/" + Lines(entry.output).back()));
  ASSERT_FALSE(stored.empty());
  const auto r = Quorvel("-auto -format=mp3 -debug -pathtoenc=" + Quote(dir_.File("out/")));
  ASSERT_EQ(r.status, 0) << r.output;
  // The creation handler's and the local lookup's lines, in their order (the cover search's
  // complaints about the unconfigured service aside).
  std::vector<std::string> head;
  for (const std::string& line : Lines(ReadText(dir_.File("Quorvel.log")))) {
    if (line.rfind("SearchCovers : ", 0) == 0) continue;
    head.push_back(line);
    if (line == "FormCreate finished") break;
  }
  // The CD database names the drive by its product name.
  const std::string cddbDrive = "DISC IMAGE";
  const std::string id = Lines(entry.output).back();
  EXPECT_EQ(head, (std::vector<std::string>{
                      "FormCreate started",
                      "FormCreate : CDRip drive Disc image disc.cue",
                      "FormCreate : CDDB drive " + cddbDrive,
                      "CDDBQuery : Starting",
                      "CDDBQuery : CDRip drive Disc image disc.cue",
                      "CDDBQuery : CDDB drive " + cddbDrive,
                      "CDDBQuery : DiscInfo OK cdiDiscMixed or cdiDiscAudio",
                      "CDDBQuery : DiscID " + id.substr(id.find('/') + 1),
                      "Query local CDDB",
                      "CDDBQuery : Local CDDB OK",
                      "FormCreate finished",
                  }));
  EXPECT_NE(r.output.find("Destination : " + dir_.File("out/Jane Doe/Songs- 1/")),
            std::string::npos)
      << r.output;
  EXPECT_EQ(FilesBelow(dir_.File("out")), (std::vector<std::string>{
                                              "Jane Doe/Songs- 1/01 - First - One.mp3",
                                              "Jane Doe/Songs- 1/02 - Second.mp3",
                                          }));
  WriteText(dir_.File("tags.py"),
            "import sys, mutagen.id3\n"
            "t = mutagen.id3.ID3(sys.argv[1])\n"
            "print('|'.join(str(t[k]) for k in ('TPE1','TALB','TIT2','TCON','TRCK','TDRC')))\n");
  const auto tags = RunCommand("/usr/bin/python3 " + Quote(dir_.File("tags.py")) + " " +
                               Quote(dir_.File("out/Jane Doe/Songs- 1/01 - First - One.mp3")));
  EXPECT_EQ(tags.output, "Jane Doe|Songs: 1|First / One|misc|01|2001\n");
  EXPECT_EQ(ReadText(dir_.File("db/" + Lines(entry.output).back())), stored);
}

// Without options the log holds the creation handler's first lines only.
TEST_F(QuorvelTest, LogWithAndWithoutDebug) {
  MakeDisc({40});
  // Without "-auto" the window stays until it is closed; SIGTERM acts as ESC.
  const pid_t plain = Spawn("", dir_.File("plain.txt"));
  ASSERT_TRUE(Eventually(
      [&] { return ReadText(dir_.File("plain.txt")).find("Not Connected") != std::string::npos; }));
  ::kill(plain, SIGTERM);
  EXPECT_EQ(Wait(plain), 0) << ReadText(dir_.File("plain.txt"));
  const auto lines = Lines(ReadText(dir_.File("Quorvel.log")));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "FormCreate started");
  EXPECT_EQ(lines[1], "FormCreate : CDRip drive Disc image disc.cue");
  EXPECT_EQ(lines[2].rfind("FormCreate : CDDB drive ", 0), 0u);

  // "-debug" after "-cddrive": the drive's lines are not logged, the later ones are.
  const auto debug = Quorvel("-cddrive=0 -auto -format=flac -pathtoenc=o/ -DEBUG");
  EXPECT_EQ(debug.status, 0) << debug.output;
  const std::string log = ReadText(dir_.File("Quorvel.log"));
  EXPECT_EQ(log.find("SetCDrive :"), std::string::npos);
  EXPECT_NE(log.find("FormCreate finished\n"), std::string::npos);
  // The creation handler's last line follows its lookup.
  EXPECT_LT(log.find("CDDBQuery : Starting\n"), log.find("FormCreate finished\n"));
  EXPECT_NE(log.find("CDrip : ripping done\n"), std::string::npos);
  EXPECT_EQ(Lines(log).back(), "Quorvel closing");
  const auto first = Quorvel("-debug -cddrive=0 -auto -format=flac -pathtoenc=o/");
  EXPECT_NE(ReadText(dir_.File("Quorvel.log")).find("SetCDrive : Select CDRip drive "),
            std::string::npos);
  // Each start empties the log.
  EXPECT_EQ(ReadText(dir_.File("Quorvel.log")).find("FormCreate started"), 0u);
}

TEST_F(QuorvelTest, ExitStatusWhenNothingCanBeRipped) {
  MakeDisc({}, 60);  // a data disc
  EXPECT_EQ(Quorvel("-auto -format=flac -pathtoenc=o/").status, 2);
  MakeDisc({40});
  EXPECT_EQ(Quorvel("-auto -format=wav -pathtoenc=o/").status, 2);
  ::setenv("QUORVEL_LIB_CDRIP", "/nonexistent/libcdrip.so", 1);
  const auto noLibrary = Quorvel("-auto");
  ::unsetenv("QUORVEL_LIB_CDRIP");
  EXPECT_EQ(noLibrary.status, 2);
}

// Values out of range are said on stderr and in the log, and the rip goes on with a sound
// one: no encoder that refuses every track, no drive taken in place of another unsaid.
TEST_F(QuorvelTest, OutOfRangeValuesAreReportedAndReplaced) {
  MakeDisc({40});
  struct Case {
    const char* args;
    const char* said;
  } const cases[] = {
      {"-format=ogg -compression=5",
       "ParseCommandLine : -compression 5 is outside -0.1 .. 1, using 1\n"},
      {"-format=ogg -compression=-0.5",
       "ParseCommandLine : -compression -0.5 is outside -0.1 .. 1, using -0.1\n"},
      {"-format=flac -cddrive=9", "SetCDrive : there is no drive 9 ("},
  };
  int run = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const std::string out = dir_.File("out" + std::to_string(++run) + "/");
    const auto r = Quorvel("-auto " + std::string(c.args) + " -pathtoenc=" + Quote(out));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("quorvel: " + std::string(c.said)), std::string::npos) << r.output;
    EXPECT_NE(ReadText(dir_.File("Quorvel.log")).find(c.said), std::string::npos);
    EXPECT_EQ(FilesBelow(out).size(), 1u);
  }
}

// A disc image that cannot be read ends the unattended run with the drive layer's reason, on
// standard error and in the log (without -debug).
TEST_F(QuorvelTest, UnreadableImageSaysWhy) {
  const std::string bin = dir_.File("disc.bin");
  struct Case {
    const char* name;
    std::function<void()> spoil;
    std::string reason;
  } const cases[] = {
      {"BIN not whole sectors", [&] { std::filesystem::resize_file(bin, 80 * 2352 - 1000); },
       "The BIN file " + bin +
           " is truncated: 187160 bytes is not a whole number of 2352-byte sectors"},
      {"BIN shorter than the cue", [&] { std::filesystem::resize_file(bin, 30 * 2352); },
       "The BIN file " + bin + " ends before track 2 starts"},
      {"BIN missing", [&] { ::remove(bin.c_str()); },
       "The BIN file " + bin + " cannot be opened: No such file or directory"},
      {"cue unreadable", [&] { WriteText(dir_.File("disc.cue"), std::string(1, '\0') + "x"); },
       "The cue sheet " + dir_.File("disc.cue") + " is malformed: The cue sheet is not text"},
      // Something that is there but is no file is no missing disc.
      {"cue a folder",
       [&] {
         ::remove(dir_.File("disc.cue").c_str());
         ::mkdir(dir_.File("disc.cue").c_str(), 0700);
       },
       "The cue sheet " + dir_.File("disc.cue") + " is not a file"},
      {"cue a pipe",
       [&] {
         std::filesystem::remove_all(dir_.File("disc.cue"));
         ::mkfifo(dir_.File("disc.cue").c_str(), 0600);
       },
       "The cue sheet " + dir_.File("disc.cue") + " is not a file"},
      {"cue a device",
       [&] {
         std::filesystem::remove_all(dir_.File("disc.cue"));
         std::filesystem::create_symlink("/dev/null", dir_.File("disc.cue"));
       },
       "The cue sheet " + dir_.File("disc.cue") + " is not a file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir_.File("disc.cue"));
    MakeDisc({40, 40});
    c.spoil();
    const auto r =
        RunCommand("(" + Environment() + "timeout 300 " + Quote(kQuorvel) +
                   " -auto -format=flac -pathtoenc=o/ 2>" + Quote(dir_.File("err")) + ")");
    EXPECT_EQ(r.status, 2) << r.output;
    EXPECT_EQ(ReadText(dir_.File("err")), "quorvel: nothing to rip: " + c.reason + "\n");
    EXPECT_NE(ReadText(dir_.File("Quorvel.log")).find("CDrip : " + c.reason + "\n"),
              std::string::npos)
        << ReadText(dir_.File("Quorvel.log"));
  }
}

// Monitors that no screen can be are refused with the reason, and the program runs on the
// others.
TEST_F(QuorvelTest, MonitorsNoScreenCanBeAreRefused) {
  MakeDisc({40});
  const auto r = RunCommand(
      "(" + Environment() +
      "QUORVEL_MONITORS=1x1+2147483647+0,100000x100000+0+0,800x600+0+0 timeout 300 " +
      Quote(kQuorvel) + " -auto -format=flac -pathtoenc=o/ 2>" + Quote(dir_.File("err")) + ")");
  EXPECT_EQ(r.status, 0) << r.output << ReadText(dir_.File("err"));
  const std::string err = ReadText(dir_.File("err"));
  for (const char* entry : {"1x1+2147483647+0", "100000x100000+0+0"})
    EXPECT_NE(err.find("quorvel: QUORVEL_MONITORS entry \"" + std::string(entry) +
                       "\" ignored: no screen is that large or that far out"),
              std::string::npos)
        << err;
  EXPECT_EQ(FilesBelow(dir_.File("o")).size(), 1u);
}

// A BIN file the program may not read says so, with the system's reason, where the reading
// library would take it for an empty file.
TEST_F(QuorvelTest, BinThatCannotBeReadSaysWhy) {
  MakeDisc({40, 40});
  const std::string bin = dir_.File("disc.bin");
  ASSERT_EQ(::chmod(bin.c_str(), 0), 0);
  // Root reads every file: the program then runs as nobody, in a folder it owns.
  std::string as = "";
  if (::geteuid() == 0) {
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir_.Path()))
      ASSERT_EQ(::lchown(e.path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown(dir_.Path().c_str(), 65534, 65534), 0);
    as = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  }
  const auto r = RunCommand("(" + Environment() + "timeout 300 " + as + Quote(kQuorvel) +
                            " -auto -format=flac -pathtoenc=o/ 2>" + Quote(dir_.File("err")) + ")");
  EXPECT_EQ(r.status, 2) << r.output;
  const std::string reason = "The BIN file " + bin + " cannot be read: Permission denied";
  EXPECT_EQ(ReadText(dir_.File("err")), "quorvel: nothing to rip: " + reason + "\n");
  EXPECT_NE(ReadText(dir_.File("Quorvel.log")).find("CDrip : " + reason + "\n"), std::string::npos)
      << ReadText(dir_.File("Quorvel.log"));
}

// A tag that cannot be written (a full disc; here the file-size limit lets the encoder write
// its file but not the tagged one) fails the track with the system's reason.
TEST_F(QuorvelTest, TagThatCannotBeWrittenSaysWhy) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer's own start-up faults under a file-size limit";
#endif
  MakeDisc({400});
  const auto whole = Quorvel("-auto -format=mp3 -pathtoenc=" + Quote(dir_.File("whole/")));
  ASSERT_EQ(whole.status, 0) << whole.output;
  const std::vector<std::string> files = FilesBelow(dir_.File("whole"));
  const auto mp3 = std::find_if(files.begin(), files.end(),
                                [](const std::string& f) { return f.ends_with(".mp3"); });
  ASSERT_NE(mp3, files.end());
  const auto tagged = std::filesystem::file_size(dir_.File("whole/" + *mp3));
  // Past the limit a write fails with EFBIG instead of ending the program.
  const auto previous = ::signal(SIGXFSZ, SIG_IGN);
  const auto full =
      RunCommand(Environment() + "prlimit --fsize=" + std::to_string(tagged - 1) + " timeout 300 " +
                 Quote(kQuorvel) + " -auto -format=mp3 -pathtoenc=full/");
  ::signal(SIGXFSZ, previous);
  EXPECT_EQ(full.status, 2) << full.output;
  const std::string log = ReadText(dir_.File("Quorvel.log"));
  EXPECT_NE(log.find("CDrip : track 1 failed : ID3v2 tag not written : result $0400 (Stream "
                     "write error. File too large)"),
            std::string::npos)
      << log;
}

// A background picture that cannot be decoded, from the INI file or from the suite's theme,
// is noted with its name; the unattended run still rips and ends with its usual status.
TEST_F(QuorvelTest, UndecodableBackgroundIsNotedAndTheRipEnds) {
  MakeDisc({40});
  std::filesystem::create_directories(dir_.File("suite/images"));
  WriteText(dir_.File("suite/Zentha.cfg"), "<Zentha><Display><DefaultTheme/></Display></Zentha>");
  WriteText(dir_.File("suite/images/background.jpg"), "no picture");
  WriteText(dir_.File("text.jpg"), "no picture");
  WriteText(dir_.File("empty.jpg"), "");
  struct Case {
    std::string conf;
    std::string picture;
  } const cases[] = {
      {"Background=" + dir_.File("text.jpg"), dir_.File("text.jpg")},
      {"Background=" + dir_.File("empty.jpg"), dir_.File("empty.jpg")},
      {"Background=/dev/null", "/dev/null"},
      {"Zentha=" + dir_.File("suite"), dir_.File("suite/images/background.jpg")},
  };
  int run = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.conf);
    WriteText(dir_.File("Quorvel.ini"), std::string(kNoServer) + "[CONF]\n" + c.conf + "\n");
    const std::string out = dir_.File("out" + std::to_string(++run) + "/");
    // Before, such a run idled until killed: the time-out makes that a failure, not a hang.
    const auto r = RunCommand("(" + Environment() + "timeout 120 " + Quote(kQuorvel) +
                              " -auto -format=flac -pathtoenc=" + Quote(out) + " 2>" +
                              Quote(dir_.File("err")) + ")");
    EXPECT_EQ(r.status, 0) << r.output << ReadText(dir_.File("err"));
    EXPECT_EQ(FilesBelow(out).size(), 1u);
    const std::string note = "the background picture " + c.picture + " cannot be used: ";
    EXPECT_NE(ReadText(dir_.File("err")).find("quorvel: " + note), std::string::npos)
        << ReadText(dir_.File("err"));
    EXPECT_NE(ReadText(dir_.File("Quorvel.log")).find("LoadConfig : " + note), std::string::npos);
  }
}

// SIGTERM acts as ESC: the running track stops and leaves nothing behind.
TEST_F(QuorvelTest, TerminationSignalAbortsTheRipCleanly) {
  MakeDisc({9000, 40});
  const pid_t pid = Spawn("-auto -debug -format=mp3 -pathtoenc=" + Quote(dir_.File("out/")),
                          dir_.File("run.txt"));
  ASSERT_TRUE(Eventually([&] {
    return ReadText(dir_.File("Quorvel.log")).find("CDrip : start ripping") != std::string::npos;
  }));
  ::kill(pid, SIGTERM);
  EXPECT_EQ(Wait(pid), 2) << ReadText(dir_.File("run.txt"));
  EXPECT_TRUE(FilesBelow(dir_.File("out")).empty());
  EXPECT_NE(ReadText(dir_.File("Quorvel.log")).find("CDrip : Abort ripping"), std::string::npos);
}

// An aborted unattended rip says so beside its status, on standard error and in the log (also
// without -debug), for SIGINT and SIGHUP as for SIGTERM, and leaves no temporary file.
TEST_F(QuorvelTest, AbortedRipSaysSo) {
  MakeDisc({9000, 40});
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(signal);
    ::remove(dir_.File("err.txt").c_str());
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t pid = Spawn("-auto -format=flac -pathtoenc=" + Quote(dir_.File("out/")),
                            dir_.File("err.txt"), devNull);
    ::close(devNull);
    // The first track is under way once its temporary file (a name of the rip's own) exists.
    ASSERT_TRUE(Eventually([&] {
      for (const std::string& file : FilesBelow(dir_.File("out")))
        if (file.ends_with(".tmp")) return true;
      return false;
    }));
    ::kill(pid, signal);
    EXPECT_EQ(Wait(pid), 2);
    const std::string said = "CDrip : the rip was aborted, 0 of 2 tracks written\n";
    EXPECT_NE(ReadText(dir_.File("err.txt")).find("quorvel: " + said), std::string::npos)
        << ReadText(dir_.File("err.txt"));
    EXPECT_NE(ReadText(dir_.File("Quorvel.log")).find(said), std::string::npos)
        << ReadText(dir_.File("Quorvel.log"));
    EXPECT_EQ(FilesBelow(dir_.File("out")), std::vector<std::string>{});
  }
}

// A cover that cannot be written (a folder in its place) is said on standard error and in the
// log; the tracks are written all the same and the run ends as a good one.
TEST_F(QuorvelTest, UnwritableCoverIsReportedAndTheTracksCount) {
  MakeDisc({40});
  // A real picture as the placeholder, so that there is a cover to save.
  std::filesystem::copy_file(std::string(QV_SOURCE_DIR) + "/skins/Ferrane/FormBack.jpg",
                             dir_.File("NOCOVER.jpg"));
  const std::string album = dir_.File("out/Unknown_Artist/Unknown_Album/");
  std::filesystem::create_directories(album + "cover.jpg");
  const auto r = RunCommand("(" + Environment() + "timeout 300 " + Quote(kQuorvel) +
                            " -auto -format=flac -pathtoenc=" + Quote(dir_.File("out/")) + " 2>" +
                            Quote(dir_.File("err")) + ")");
  EXPECT_EQ(r.status, 0) << r.output << ReadText(dir_.File("err"));
  EXPECT_NE(r.output.find("Rip done !"), std::string::npos) << r.output;
  EXPECT_TRUE(std::filesystem::exists(album + "01 - Track_1.flac"));
  const std::string said = "CDrip : the cover " + album + "cover.jpg cannot be written : ";
  EXPECT_NE(ReadText(dir_.File("err")).find("quorvel: " + said), std::string::npos)
      << ReadText(dir_.File("err"));
  EXPECT_NE(ReadText(dir_.File("Quorvel.log")).find(said), std::string::npos)
      << ReadText(dir_.File("Quorvel.log"));
}

// SIGTERM acts as ESC from the first moment: one that comes while the program is still
// starting (held by a preloaded library before its own initialisation) waits for the window,
// which then closes as ESC closes it.
TEST_F(QuorvelTest, TerminationSignalWhileStartingActsAsEsc) {
  MakeDisc({40});
  const std::string fifo = dir_.File("hold");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const char* asan = std::getenv("ASAN_OPTIONS");
  // The preloaded library comes before the sanitizer's runtime, which must not mind.
  const std::string held =
      "LD_PRELOAD=" + Quote(QV_HOLD_START) + " QV_TEST_HOLD=" + Quote(fifo) +
      " ASAN_OPTIONS=" + Quote(std::string(asan ? asan : "") + ":verify_asan_link_order=0") + " ";
  const pid_t pid = ::fork();
  if (pid == 0) {
    const std::string command = Environment() + held + "exec " + Quote(kQuorvel) +
                                " -format=flac -pathtoenc=o/ > " + Quote(dir_.File("run.txt")) +
                                " 2>&1";
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  // Opened once the program stands in the hold, before any of its own code has run.
  const int hold = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
  ASSERT_GE(hold, 0);
  ::kill(pid, SIGTERM);
  EXPECT_EQ(::write(hold, "x", 1), 1);
  ::close(hold);
  int status = 0;
  const bool ended = Eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; });
  if (!ended) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  EXPECT_TRUE(ended) << "SIGTERM was lost: " << ReadText(dir_.File("run.txt"));
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0) << ReadText(dir_.File("run.txt"));
}

// Status lines into a pipe nobody reads any more ("quorvel -auto | head -1") do not stop the
// rip.
TEST_F(QuorvelTest, ClosedOutputPipeDoesNotStopTheRip) {
  MakeDisc({100, 80});
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);  // the reader is gone before the first line
  const pid_t pid = Spawn("-auto -format=flac -pathtoenc=" + Quote(dir_.File("out/")),
                          dir_.File("err.txt"), fds[1]);
  ::close(fds[1]);
  EXPECT_EQ(Wait(pid), 0) << ReadText(dir_.File("err.txt"));
  EXPECT_EQ(FilesBelow(dir_.File("out")).size(), 2u);
}

// A second copy ends at once without touching the first one's log, and the first one hears
// its request to come to the front.
TEST_F(QuorvelTest, SecondCopyExitsAndRaisesTheFirst) {
  MakeDisc({40});
  // The first copy keeps its window open (no rip that could end before the test is done).
  const pid_t first = Spawn("-debug", dir_.File("run.txt"));
  ASSERT_TRUE(Eventually(
      [&] { return ReadText(dir_.File("Quorvel.log")).find("FormCreate") != std::string::npos; }));
  // Both say why they end, and which lock is taken.
  const std::string said =
      "quorvel: another copy is running (lock " + dir_.File("quorvel/quorvel.lock") + ")\n";
  const auto second = Quorvel("-auto -debug");
  EXPECT_EQ(second.status, 2);
  EXPECT_EQ(second.output, said);
  const auto plain = Quorvel("");
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.output, said);
  EXPECT_TRUE(Eventually([&] {
    return ReadText(dir_.File("Quorvel.log"))
               .find("OneInstance : another copy asked to raise the window") != std::string::npos;
  }));
  EXPECT_EQ(ReadText(dir_.File("Quorvel.log")).find("FormCreate started\n"), 0u);
  ::kill(first, SIGTERM);
  EXPECT_EQ(Wait(first), 0);  // closed as by ESC
}

// A file-size limit fails the track with the system's reason, as a full disc does: no death
// by signal, no temporary file left.
TEST_F(QuorvelTest, FileSizeLimitFailsTheTrackWithItsReason) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer's own start-up faults under a file-size limit";
#endif
  MakeDisc({2000});
  const auto r =
      RunCommand(Environment() + "prlimit --fsize=200000 timeout 300 " + Quote(kQuorvel) +
                 " -auto -format=flac -pathtoenc=" + Quote(dir_.File("out/")));
  EXPECT_EQ(r.status, 2) << r.output;
  EXPECT_NE(r.output.find("File too large"), std::string::npos) << r.output;
  EXPECT_NE(ReadText(dir_.File("Quorvel.log")).find("CDrip : track 1 failed : "), std::string::npos)
      << ReadText(dir_.File("Quorvel.log"));
  EXPECT_EQ(FilesBelow(dir_.File("out")), std::vector<std::string>{});
}

// A second copy ends with its line, also when the first one takes no connections (stopped,
// its queue filled by the copies before): it then says that it got no answer.
TEST_F(QuorvelTest, SecondCopyOfAStoppedFirstStillEnds) {
  MakeDisc({40});
  const pid_t first = Spawn("-debug", dir_.File("run.txt"));
  ASSERT_TRUE(Eventually(
      [&] { return ReadText(dir_.File("Quorvel.log")).find("FormCreate") != std::string::npos; }));
  ASSERT_EQ(::kill(first, SIGSTOP), 0);
  const std::string said =
      "quorvel: another copy is running (lock " + dir_.File("quorvel/quorvel.lock") + ")";
  int unanswered = 0;
  for (int i = 0; i < 11; ++i) {
    SCOPED_TRACE(i);
    const auto second =
        RunCommand(Environment() + "timeout -s KILL 60 " + Quote(kQuorvel) + " -auto");
    EXPECT_EQ(second.status, 2) << second.output;
    EXPECT_EQ(second.output.rfind(said, 0), 0u) << second.output;
    if (second.output == said + " but does not answer\n") ++unanswered;
  }
  EXPECT_GT(unanswered, 0);
  ::kill(first, SIGCONT);
  ::kill(first, SIGTERM);
  EXPECT_EQ(Wait(first), 0);
}

// What a rip killed outright left (its hidden temporary file) goes with the next rip into
// that folder; the file of a rip that still runs stays, and neither is taken for a track.
TEST_F(QuorvelTest, LeftoversOfAKilledRipGoWithTheNextRip) {
  MakeDisc({9000, 40});
  const std::string out = dir_.File("out/");
  const std::string album = out + "Unknown_Artist/Unknown_Album/";
  const pid_t killed = Spawn("-auto -format=flac -pathtoenc=" + Quote(out), dir_.File("run.txt"));
  ASSERT_TRUE(Eventually([&] {
    return std::ranges::any_of(FilesBelow(out), [](const auto& f) { return f.ends_with(".tmp"); });
  }));
  ::kill(killed, SIGKILL);
  Wait(killed);
  ASSERT_EQ(FilesBelow(out).size(), 1u);
  // A temporary file as a rip running now (this test's process) has it.
  const std::string live = ".02 - Track_2.flac." + std::to_string(::getpid()) + ".0.0123abcd.tmp";
  WriteText(album + live, "being written");
  const auto r = Quorvel("-auto -format=flac -pathtoenc=" + Quote(out));
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(FilesBelow(out),
            (std::vector<std::string>{"Unknown_Artist/Unknown_Album/" + live,
                                      "Unknown_Artist/Unknown_Album/01 - Track_1.flac",
                                      "Unknown_Artist/Unknown_Album/02 - Track_2.flac"}));
  EXPECT_EQ(r.output.find(".tmp"), std::string::npos) << r.output;
}

// A track's data reach the device before the file takes its final name, and the name the
// device after (as the system-call trace shows): a power loss never leaves an empty file
// where a good one was.
TEST_F(QuorvelTest, TrackDataAreSyncedBeforeTheRenameAndTheFolderAfter) {
  MakeDisc({40});
  const std::string trace = dir_.File("trace.txt");
  // The leak checker cannot run under the tracer.
  const char* asan = std::getenv("ASAN_OPTIONS");
  const auto r = RunCommand(
      Environment() + "ASAN_OPTIONS=" + Quote(std::string(asan ? asan : "") + ":detect_leaks=0") +
      " strace -f -qq -y -o " + Quote(trace) +
      " -e trace=fsync,fdatasync,rename,renameat,renameat2 " + Quote(kQuorvel) +
      " -auto -format=flac -pathtoenc=out/");
  ASSERT_EQ(r.status, 0) << r.output;
  const std::string album = dir_.File("out/Unknown_Artist/Unknown_Album");
  const std::string text = ReadText(trace);
  size_t at = 0, rename = std::string::npos, dataSync = std::string::npos;
  for (const std::string& line : Lines(text)) {
    if (line.find("01 - Track_1.flac.") != std::string::npos) {
      if (line.find("sync(") != std::string::npos) dataSync = std::min(dataSync, at);
      if (line.find("rename") != std::string::npos &&
          line.find("/01 - Track_1.flac\"") != std::string::npos)
        rename = at;
    }
    at += line.size() + 1;
  }
  ASSERT_NE(rename, std::string::npos) << text;
  EXPECT_LT(dataSync, rename) << text;
  EXPECT_NE(text.find("sync(", rename), std::string::npos) << text;
  EXPECT_NE(text.find("<" + album + ">", rename), std::string::npos) << text;
}

// A log that cannot be opened (a named pipe, a link to a full device or to another file, which
// stays as it was) and an unusable media poll interval are said on stderr, and the run goes on;
// a folder that cannot be made, or a final name that cannot be given, fails the track with the
// reason.
TEST_F(QuorvelTest, UnusableLogPollIntervalAndFolderAreSaid) {
  MakeDisc({40});
  const std::string log = dir_.File("Quorvel.log");
  const std::string victim = dir_.File("victim");
  WriteText(victim, "keep");
  const std::string linked =
      "quorvel: OpenLog : the log Quorvel.log cannot be opened: it is a symbolic link\n";
  const std::string track = "out6/Unknown_Artist/Unknown_Album/01 - Track_1.flac";
  const struct {
    std::function<void()> spoil;
    std::string env;
    int status;
    std::string said;
    std::size_t files;
  } cases[] = {
      {[&] { ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0); }, "", 0,
       "quorvel: OpenLog : the log Quorvel.log cannot be opened: it is not a regular file\n", 1},
      {[&] { std::filesystem::create_symlink("/dev/full", log); }, "", 0, linked, 1},
      {[&] { std::filesystem::create_symlink(victim, log); }, "", 0, linked, 1},
      {[] {}, "QUORVEL_MEDIA_POLL_MS=10ms ", 0,
       "quorvel: QUORVEL_MEDIA_POLL_MS \"10ms\" ignored: not a whole number of milliseconds from "
       "1 to 86400000; polling every 1000 ms\n",
       1},
      {[&] {
         std::filesystem::create_directories(dir_.File("out5"));
         WriteText(dir_.File("out5/Unknown_Artist"), "a file where the artist's folder would go");
       },
       "", 2, "Cannot create the folder out5/Unknown_Artist/Unknown_Album/ : Not a directory", 1},
      {[&] { std::filesystem::create_directories(dir_.File(track)); }, "", 2,
       "cannot give the file its name " + track + " : Is a directory", 0},
  };
  int run = 0;
  for (const auto& c : cases) {
    const std::string out = "out" + std::to_string(++run) + "/";
    SCOPED_TRACE(out);
    std::filesystem::remove(log);
    c.spoil();
    extraEnv_ = c.env;
    // Killed outright should it hang (as on a pipe that no one opens).
    const auto r = RunCommand(Environment() + "timeout -s KILL 120 " + Quote(kQuorvel) +
                              " -auto -format=flac -pathtoenc=" + out);
    EXPECT_EQ(r.status, c.status) << r.output;
    EXPECT_NE(r.output.find(c.said), std::string::npos) << r.output;
    EXPECT_EQ(FilesBelow(dir_.File(out)).size(), c.files);
  }
  EXPECT_EQ(ReadText(victim), "keep");
}

// Two copies with runtime folders of their own (a desktop session and a cron job) rip the
// same disc into the same folder at the same time: each writes a temporary file of its own,
// and every file reported written is whole, the same as a rip alone gives. A file another
// copy is writing under the name a fixed temporary name would have is left alone.
TEST_F(QuorvelTest, TwoCopiesRippingIntoOneFolderWriteWholeFiles) {
  MakeDisc({3000, 3000});
  const std::string out = dir_.File("out/");
  const std::string track = out + "Unknown_Artist/Unknown_Album/01 - Track_1.flac";
  const auto alone = Quorvel("-auto -format=flac -pathtoenc=" + Quote(dir_.File("alone/")));
  ASSERT_EQ(alone.status, 0) << alone.output;
  std::filesystem::create_directories(std::filesystem::path(track).parent_path());
  WriteText(track + ".part", "another copy's track in the making");

  for (const char* runtime : {"desktop", "cron"}) ::mkdir(dir_.File(runtime).c_str(), 0700);
  const std::string args = "-auto -format=flac -pathtoenc=" + Quote(out);
  const pid_t desktop = Spawn(args, dir_.File("desktop.txt"), -1,
                              "XDG_RUNTIME_DIR=" + Quote(dir_.File("desktop")) + " ");
  const pid_t cron =
      Spawn(args, dir_.File("cron.txt"), -1, "XDG_RUNTIME_DIR=" + Quote(dir_.File("cron")) + " ");
  const int statuses[] = {Wait(desktop), Wait(cron)};
  EXPECT_EQ(ReadText(track + ".part"), "another copy's track in the making");
  int reported = 0;
  for (const char* copy : {"desktop", "cron"}) {
    SCOPED_TRACE(copy);
    const std::string said = ReadText(dir_.File(std::string(copy) + ".txt"));
    for (const std::string& line : Lines(said)) {
      if (line.rfind("Written: ", 0) != 0) continue;
      ++reported;
      const std::string file = line.substr(9);
      const std::string name = file.substr(file.find("/Unknown_Artist/") + 1);
      EXPECT_EQ(ReadText(file), ReadText(dir_.File("alone/" + name))) << name;
      const auto test = RunCommand("flac -t -s " + Quote(file));
      EXPECT_EQ(test.status, 0) << name << ": " << test.output;
    }
  }
  EXPECT_EQ(statuses[0], 0) << ReadText(dir_.File("desktop.txt"));
  EXPECT_EQ(statuses[1], 0) << ReadText(dir_.File("cron.txt"));
  EXPECT_EQ(reported, 4);
  // Nothing left behind but the two tracks and the other copy's file.
  EXPECT_EQ(FilesBelow(out), (std::vector<std::string>{
                                 "Unknown_Artist/Unknown_Album/01 - Track_1.flac",
                                 "Unknown_Artist/Unknown_Album/01 - Track_1.flac.part",
                                 "Unknown_Artist/Unknown_Album/02 - Track_2.flac",
                             }));
}

// Another disc put in while the first track is ripped: the rip notices that the disc is no
// longer the one whose names it has, says so, ends with a failure status and writes nothing of
// the new disc under the old one's names.
TEST_F(QuorvelTest, DiscChangedDuringTheRipStopsIt) {
  MakeDisc({9000, 40});
  DiscSpec other;
  other.AudioTracks = {{9100}, {3000}};
  other.Seed = 7;
  std::filesystem::create_directories(dir_.File("other"));
  WriteDiscImage(other, dir_.File("other/disc.cue"));
  const std::string out = dir_.File("out/");
  const pid_t pid =
      Spawn("-auto -debug -format=flac -pathtoenc=" + Quote(out), dir_.File("run.txt"));
  ASSERT_TRUE(Eventually([&] {
    return ReadText(dir_.File("Quorvel.log")).find("CDrip : start ripping") != std::string::npos;
  }));
  // The new disc's BIN file first, then its sheet: the drive sees the change at once.
  std::filesystem::rename(dir_.File("other/disc.bin"), dir_.File("disc.bin"));
  std::filesystem::rename(dir_.File("other/disc.cue"), dir_.File("disc.cue"));
  const bool stillFirst =
      ReadText(dir_.File("Quorvel.log")).find("Process track number 1") == std::string::npos;
  const int status = Wait(pid);
  const std::string said = ReadText(dir_.File("run.txt"));
  EXPECT_NE(status, 0) << said;
  EXPECT_NE(said.find("The disc in the drive is not the one looked up any more: the rip is "
                      "stopped"),
            std::string::npos)
      << said;
  EXPECT_EQ(said.find("Rip done !"), std::string::npos) << said;
  EXPECT_FALSE(std::filesystem::exists(out + "Unknown_Artist/Unknown_Album/02 - Track_2.flac"));
  if (stillFirst) {
    // Changed while it was read: the first track is not trusted either.
    EXPECT_TRUE(FilesBelow(out).empty()) << said;
    EXPECT_EQ(status, 2);
  }
}

// A named pipe in the local CD database, as the disc's entry or as an index: the lookup
// passes over it at once (an index is rebuilt in its place), the run ends by itself, and
// SIGTERM would still end it.
TEST_F(QuorvelTest, NamedPipeInTheLocalDatabaseIsPassedOver) {
  MakeDisc({120, 90});
  const auto entry =
      RunCommand(Environment() + Quote(std::string(QV_BINARY_DIR) + "/bin/qv-demo-entry") +
                 " db misc 'Jane Doe' 'Songs' 2001 'First' 'Second'");
  ASSERT_EQ(entry.status, 0) << entry.output;
  const std::string stored = dir_.File("db/" + Lines(entry.output).back());
  const std::string text = ReadText(stored);
  WriteText(dir_.File("Quorvel.ini"), std::string(kNoServer) + "[CONF]\nlocalCDDB=db\n");
  const struct {
    std::string pipe;
    const char* first;  // the first file's name after the run
  } cases[] = {
      {stored, "Unknown Artist/Unknown Album/01 - Track 1.flac"},
      {dir_.File("db/Cat.idx"), "Jane Doe/Songs/01 - First.flac"},
      {dir_.File("db/02.idx"), "Jane Doe/Songs/01 - First.flac"},
  };
  // The database's indexes as a lookup leaves them.
  ASSERT_EQ(Quorvel("-auto -format=flac -pathtoenc=" + Quote(dir_.File("first/"))).status, 0);
  int run = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pipe);
    std::filesystem::remove(c.pipe);
    if (c.pipe.ends_with("Cat.idx")) std::filesystem::remove(dir_.File("db/cat.idx"));
    ASSERT_EQ(::mkfifo(c.pipe.c_str(), 0600), 0);
    const std::string out = dir_.File("out" + std::to_string(++run) + "/");
    const pid_t pid = Spawn("-auto -format=flac -pathtoenc=" + Quote(out), dir_.File("run.txt"));
    int status = 0;
    bool ended = Eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; });
    if (!ended) {
      ::kill(pid, SIGTERM);
      ::sleep(5);
      ended = ::waitpid(pid, &status, WNOHANG) == pid;
      if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
      }
      ADD_FAILURE() << "the run hung" << (ended ? "" : ", and SIGTERM did not end it");
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadText(dir_.File("run.txt"));
    const std::vector<std::string> files = FilesBelow(out);
    ASSERT_EQ(files.size(), 2u) << ReadText(dir_.File("run.txt"));
    EXPECT_EQ(files[0], c.first);
    std::filesystem::remove(c.pipe);
    WriteText(stored, text);
  }
}

// The lookup through the CD database server, reached as the INI file's proxy.
class QuorvelServerTest : public QuorvelTest {
 protected:
  // An entry for the disc in the server's folder (and nowhere else); returns its disc id.
  std::string ServerEntry(const std::string& Category, const std::string& Artist,
                          const std::string& Album) {
    const auto r =
        RunCommand(Environment() + Quote(std::string(QV_BINARY_DIR) + "/bin/qv-demo-entry") + " " +
                   Quote(dir_.File("server")) + " " + Category + " " + Quote(Artist) + " " +
                   Quote(Album) + " 1999 'One' 'Two'");
    EXPECT_EQ(r.status, 0) << r.output;
    const std::string last = Lines(r.output).back();
    return last.substr(last.find('/') + 1);
  }
  void StartServer() {
    server_ = std::make_unique<testing::CddbFixtureServer>(
        std::string(QV_SOURCE_DIR) + "/tests/fixtures/cddb/cddb_server.py", dir_.File("server"),
        dir_.File("requests.log"));
    WriteText(dir_.File("Quorvel.ini"),
              "[PROXY]\nProxyIP=127.0.0.1\nProxyPort=" + std::to_string(server_->port()) +
                  "\n[CONF]\nlocalCDDB=db\nsearch=http://127.0.0.1:" +
                  std::to_string(server_->port()) + "/covers?q=#SEARCH#\n");
  }
  std::vector<std::string> Requests() { return Lines(ReadText(dir_.File("requests.log"))); }
  // The files of a disc named by the entry "Band Name" / "Live" with the titles One and Two.
  static std::vector<std::string> LiveFiles() {
    return {"Band Name/Live/01 - One.flac", "Band Name/Live/02 - Two.flac"};
  }

  std::unique_ptr<testing::CddbFixtureServer> server_;
};

TEST_F(QuorvelServerTest, ServerEntryNamesTheFilesAndIsSavedForTheNextRun) {
  MakeDisc({100, 80});
  const std::string id = ServerEntry("rock", "Band Name", "Live");
  StartServer();
  const auto r = Quorvel("-auto -format=flac -pathtoenc=" + Quote(dir_.File("out/")));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(FilesBelow(dir_.File("out")), LiveFiles());
  // Query, then read, through the proxy.
  const auto requests = Requests();
  ASSERT_EQ(requests.size(), 3u) << ReadText(dir_.File("requests.log"));
  EXPECT_NE(requests[0].find("cmd=cddb+query+" + id), std::string::npos) << requests[0];
  EXPECT_NE(requests[1].find("cmd=cddb+read+rock+" + id), std::string::npos) << requests[1];
  EXPECT_NE(requests[2].find("/covers?q=Live%20Band%20Name"), std::string::npos) << requests[2];
  EXPECT_FALSE(ReadText(dir_.File("db/rock/" + id)).empty());

  // The second run finds it locally: no request reaches the server for the disc.
  ::remove(dir_.File("requests.log").c_str());
  const auto again = Quorvel("-auto -format=flac -pathtoenc=" + Quote(dir_.File("again/")));
  ASSERT_EQ(again.status, 0) << again.output;
  EXPECT_EQ(FilesBelow(dir_.File("again")), FilesBelow(dir_.File("out")));
  for (const std::string& line : Requests())
    EXPECT_EQ(line.find("cddb"), std::string::npos) << line;
}

// Saving the server's entry updates the length index through a temporary file of its own: a
// link planted where a fixed temporary name would be is not written through.
TEST_F(QuorvelServerTest, SavedEntryNeverWritesThroughAPlantedLink) {
  MakeDisc({100, 80});
  const std::string id = ServerEntry("rock", "Band Name", "Live");
  StartServer();
  std::filesystem::create_directories(dir_.File("db"));
  WriteText(dir_.File("victim.txt"), "the user's own text\n");
  std::filesystem::create_symlink(dir_.File("victim.txt"), dir_.File("db/02.idxxXx"));
  const auto r = Quorvel("-auto -format=flac -pathtoenc=" + Quote(dir_.File("out/")));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(ReadText(dir_.File("victim.txt")), "the user's own text\n");
  EXPECT_TRUE(std::filesystem::is_symlink(dir_.File("db/02.idxxXx")));
  EXPECT_FALSE(std::filesystem::is_symlink(dir_.File("db/02.idx")));
  EXPECT_EQ(ReadText(dir_.File("db/02.idx")), "L" + id.substr(2, 4) + id.substr(0, 2) + "a\n");
  EXPECT_FALSE(ReadText(dir_.File("db/rock/" + id)).empty());
}

TEST_F(QuorvelServerTest, SeveralMatchesWithoutChoiceReadTheFirst) {
  MakeDisc({100, 80});
  const std::string id = ServerEntry("misc", "First Artist", "First Album");
  ServerEntry("rock", "Second Artist", "Second Album");
  StartServer();
  const auto r = Quorvel("-auto -format=flac -pathtoenc=" + Quote(dir_.File("out/")));
  ASSERT_EQ(r.status, 0) << r.output;
  EXPECT_EQ(FilesBelow(dir_.File("out")),
            (std::vector<std::string>{"First Artist/First Album/01 - One.flac",
                                      "First Artist/First Album/02 - Two.flac"}));
  // Headless, nobody can answer "-cddbchoice": the first match is read all the same.
  const auto choice =
      Quorvel("-auto -cddbchoice -format=flac -pathtoenc=" + Quote(dir_.File("choice/")));
  ASSERT_EQ(choice.status, 0) << choice.output;
  EXPECT_EQ(FilesBelow(dir_.File("choice")), FilesBelow(dir_.File("out")));
}

// A failed request and a server that does not answer end the lookup; the unattended run still
// rips, with the tracks' own names.
TEST_F(QuorvelServerTest, ServerFailureAndTimeOutStillRip) {
  MakeDisc({100, 80});
  const std::string id = ServerEntry("misc", "A", "B");
  ::mkdir(dir_.File("server/_control").c_str(), 0700);
  StartServer();
  const std::vector<std::string> expected = {"Unknown Artist/Unknown Album/01 - Track 1.flac",
                                             "Unknown Artist/Unknown Album/02 - Track 2.flac"};
  for (const std::string control : {"http 500", "slow 40"}) {
    SCOPED_TRACE(control);
    WriteText(dir_.File("server/_control/query." + id), control + "\n");
    const std::string out = dir_.File(control.substr(0, 4) + "/");
    const auto r = Quorvel("-auto -format=flac -pathtoenc=" + Quote(out));
    EXPECT_EQ(r.status, 0) << r.output;
    // Said once, also when the watchdog's abort is reported by the request as well.
    const auto said = r.output.find("Not Connected");
    EXPECT_NE(said, std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("Not Connected", said + 1), std::string::npos) << r.output;
    EXPECT_EQ(FilesBelow(out), expected);
    for (const std::string& file : FilesBelow(dir_.File("db")))
      EXPECT_EQ(file.find(id), std::string::npos) << file;  // nothing was read, nothing saved
  }
}

// A lookup replaced while its request runs (here by a disc appearing in a second drive, as
// the CDDB button would) gets the answer of its own request: the aborted request's late end
// does not end it as a failed one.
TEST_F(QuorvelServerTest, LateEndOfAnAbortedLookupDoesNotEndTheNextOne) {
  MakeDisc({100, 80});
  const std::string id = ServerEntry("rock", "Band Name", "Live");
  ::mkdir(dir_.File("server/_control").c_str(), 0700);
  StartServer();
  WriteText(dir_.File("server/_control/query." + id), "slow 6\n");
  // The second drive's image is made aside and appears at once, as a folder renamed.
  DiscSpec spec;
  spec.AudioTracks = {{60}};
  std::filesystem::create_directories(dir_.File("aside"));
  WriteDiscImage(spec, dir_.File("aside/other.cue"));
  extraEnv_ = "QUORVEL_MEDIA_POLL_MS=50 QUORVEL_CDROM=" +
              Quote(dir_.File("disc.cue") + ";" + dir_.File("later/other.cue")) + " ";
  const pid_t pid = Spawn("-auto -debug -format=flac -pathtoenc=" + Quote(dir_.File("out/")),
                          dir_.File("run.txt"));
  ASSERT_TRUE(Eventually([&] { return !Requests().empty(); }));
  std::filesystem::rename(dir_.File("aside"), dir_.File("later"));
  EXPECT_EQ(Wait(pid), 0) << ReadText(dir_.File("run.txt"));
  EXPECT_EQ(ReadText(dir_.File("run.txt")).find("Not Connected"), std::string::npos)
      << ReadText(dir_.File("run.txt"));
  EXPECT_EQ(FilesBelow(dir_.File("out")), LiveFiles());
  // Two queries (the first one dropped), then the read.
  const auto requests = Requests();
  ASSERT_GE(requests.size(), 3u) << ReadText(dir_.File("requests.log"));
  EXPECT_NE(requests[1].find("cmd=cddb+query+" + id), std::string::npos) << requests[1];
  EXPECT_NE(requests[2].find("cmd=cddb+read+rock+" + id), std::string::npos) << requests[2];
}

// A lookup started after a failed or a dropped one gets its own answer: the end the earlier
// request left behind does not end it. The server fails, then works again, while the window
// waits and the disc goes out and back in; then an unattended run's slow first query is
// dropped when the disc goes out, and the (as slow) lookup made when it comes back names the
// files.
TEST_F(QuorvelServerTest, LookupAfterAFailedOrDroppedOneGetsItsOwnAnswer) {
  MakeDisc({100, 80});
  const std::string id = ServerEntry("rock", "Band Name", "Live");
  ::mkdir(dir_.File("server/_control").c_str(), 0700);
  StartServer();
  const std::string control = dir_.File("server/_control/query." + id);
  const std::string run = dir_.File("run.txt");
  const auto said = [&](const std::string& Text) {
    const std::string all = ReadText(run);
    int n = 0;
    for (auto at = all.find(Text); at != std::string::npos; at = all.find(Text, at + 1)) ++n;
    return n;
  };
  const auto outAndIn = [&] {
    std::filesystem::rename(dir_.File("disc.cue"), dir_.File("aside.cue"));
    ASSERT_TRUE(Eventually([&] { return said("CD Ejected !") > 0; })) << ReadText(run);
    std::filesystem::rename(dir_.File("aside.cue"), dir_.File("disc.cue"));
  };
  extraEnv_ = "QUORVEL_MEDIA_POLL_MS=50 ";

  WriteText(control, "http 500\n");
  pid_t pid = Spawn("-format=flac -pathtoenc=" + Quote(dir_.File("window/")), run);
  ASSERT_TRUE(Eventually([&] { return said("Not Connected") > 0; })) << ReadText(run);
  std::filesystem::remove(control);
  outAndIn();
  EXPECT_TRUE(Eventually([&] { return said("Destination :") > 0 || said("Not Connected") > 1; }));
  EXPECT_EQ(said("Not Connected"), 1) << ReadText(run);
  EXPECT_EQ(said("Destination :"), 1) << ReadText(run);
  ::kill(pid, SIGTERM);
  Wait(pid);

  // The first query is slower than any run's look at the drive; the one made when the disc
  // comes back is answered at once (the server logs a request before it reads its control
  // file, so that is removed only once the disc is seen gone).
  WriteText(control, "slow 60\n");
  ::remove(dir_.File("requests.log").c_str());
  pid = Spawn("-auto -format=flac -pathtoenc=" + Quote(dir_.File("out/")), run);
  ASSERT_TRUE(Eventually([&] { return !Requests().empty(); }));
  std::filesystem::rename(dir_.File("disc.cue"), dir_.File("aside.cue"));
  ASSERT_TRUE(Eventually([&] { return said("CD Ejected !") > 0; })) << ReadText(run);
  std::filesystem::remove(control);
  std::filesystem::rename(dir_.File("aside.cue"), dir_.File("disc.cue"));
  EXPECT_EQ(Wait(pid), 0) << ReadText(run);
  EXPECT_EQ(said("Not Connected"), 0) << ReadText(run);
  EXPECT_EQ(FilesBelow(dir_.File("out")), LiveFiles());
}

// A read that the server refuses, by its CDDB code or by its HTTP status, is noted in the log
// with the server's answer (also without -debug); the status line is the one of each case
// ("Not Connected" for the failed request, else nothing new) and the tracks keep their names.
TEST_F(QuorvelServerTest, FailedEntryReadIsNotedWithTheServerAnswer) {
  MakeDisc({100, 80});
  const std::string id = ServerEntry("misc", "A", "B");
  ::mkdir(dir_.File("server/_control").c_str(), 0700);
  StartServer();
  struct Case {
    const char* control;
    std::string noted;
    bool notConnected;
  } const cases[] = {
      {"401",
       "Specified CDDB entry not found (the server answered \"401 Refused by the test "
       "server.\")",
       false},
      {"500", "(the server answered \"500 Refused by the test server.\")", false},
      {"http 500",
       "CDDB Component Internal Error: THttpCli.GetAsync failed because of error \"Internal "
       "Server Error\" (the server answered \"HTTP 500 Internal Server Error\")",
       true},
      // No answer: the watchdog ends the read.
      {"slow 25", "TimerCDDB : the entry could not be read : no answer within 15000 ms", true},
  };
  int run = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    WriteText(dir_.File("server/_control/read." + id), std::string(c.control) + "\n");
    const std::string out = dir_.File("out" + std::to_string(++run) + "/");
    const auto r = Quorvel("-auto -format=flac -pathtoenc=" + Quote(out));
    EXPECT_EQ(r.status, 0) << r.output;
    const std::string log = ReadText(dir_.File("Quorvel.log"));
    const auto noted = log.find(" : the entry could not be read : ");
    ASSERT_NE(noted, std::string::npos) << log;
    EXPECT_NE(log.find(c.noted, log.rfind('\n', noted) + 1), std::string::npos) << log;
    EXPECT_EQ(r.output.find("Not Connected") != std::string::npos, c.notConnected) << r.output;
    EXPECT_EQ(FilesBelow(out),
              (std::vector<std::string>{"Unknown Artist/Unknown Album/01 - Track 1.flac",
                                        "Unknown Artist/Unknown Album/02 - Track 2.flac"}));
  }
}

// An answer that names nothing is not kept: the lookup says it found nothing usable, and the
// next lookup asks the server again and gets the entry once the server is right. A local entry
// without titles (as older versions saved from such answers) is passed over the same way.
TEST_F(QuorvelServerTest, EntryWithoutTitlesIsNotSaved) {
  MakeDisc({100, 80});
  const std::string id = ServerEntry("misc", "Right Artist", "Right Album");
  const auto empty =
      RunCommand(Environment() + Quote(std::string(QV_BINARY_DIR) + "/bin/qv-demo-entry") + " " +
                 Quote(dir_.File("db")) + " misc '' '' '' '' ''");
  ASSERT_EQ(empty.status, 0) << empty.output;
  const std::string stored = ReadText(dir_.File("db/misc/" + id));
  ASSERT_NE(stored.find("TTITLE1=\n"), std::string::npos) << stored;
  ::mkdir(dir_.File("server/_control").c_str(), 0700);
  StartServer();
  WriteText(dir_.File("server/_control/read." + id),
            "raw\n210 misc " + id + " follows\nTTITLE999999999999=x\n.\n");
  const auto bad = Quorvel("-auto -format=flac -pathtoenc=" + Quote(dir_.File("bad/")));
  EXPECT_EQ(bad.status, 0) << bad.output;
  EXPECT_NE(bad.output.find("unknown CD Audio"), std::string::npos) << bad.output;
  EXPECT_NE(ReadText(dir_.File("Quorvel.log")).find("The entry has no disc or track titles"),
            std::string::npos);
  EXPECT_EQ(ReadText(dir_.File("db/misc/" + id)), stored);  // nothing was saved over it

  ::remove(dir_.File("server/_control/read." + id).c_str());
  const auto good = Quorvel("-auto -format=flac -pathtoenc=" + Quote(dir_.File("good/")));
  ASSERT_EQ(good.status, 0) << good.output;
  EXPECT_EQ(FilesBelow(dir_.File("good")),
            (std::vector<std::string>{"Right Artist/Right Album/01 - One.flac",
                                      "Right Artist/Right Album/02 - Two.flac"}));
  EXPECT_NE(ReadText(dir_.File("db/misc/" + id)).find("DTITLE=Right Artist / Right Album"),
            std::string::npos);
}

// An answer that is no HTTP at all, or a connection reset, ends the lookup; the log says
// what went wrong, never an empty reason.
TEST_F(QuorvelServerTest, BrokenAnswerSaysWhatWasWrong) {
  MakeDisc({100, 80});
  const std::string id = ServerEntry("misc", "A", "B");
  ::mkdir(dir_.File("server/_control").c_str(), 0700);
  StartServer();
  for (const std::string control : {"garbage", "reset"}) {
    SCOPED_TRACE(control);
    WriteText(dir_.File("server/_control/query." + id), control + "\n");
    ::remove(dir_.File("Quorvel.log").c_str());
    const std::string out = dir_.File(control + "/");
    const auto r = Quorvel("-auto -format=flac -debug -pathtoenc=" + Quote(out));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Not Connected"), std::string::npos) << r.output;
    const std::string log = ReadText(dir_.File("Quorvel.log"));
    const std::string failed =
        "CDDB Component Internal Error: THttpCli.GetAsync failed because of error \"";
    const auto at = log.find(failed);
    ASSERT_NE(at, std::string::npos) << log;
    EXPECT_NE(log[at + failed.size()], '"') << log;
  }
}

// An answer past its bound ends the lookup as a failed request at once, saying why in the log.
TEST_F(QuorvelServerTest, OversizedAnswerEndsTheLookup) {
  MakeDisc({100, 80});
  const std::string id = ServerEntry("misc", "A", "B");
  ::mkdir(dir_.File("server/_control").c_str(), 0700);
  StartServer();
  WriteText(dir_.File("server/_control/query." + id), "big 8\n");
  const auto r = Quorvel("-auto -format=flac -pathtoenc=" + Quote(dir_.File("out/")) + " -debug");
  EXPECT_EQ(r.status, 0) << r.output;
  EXPECT_NE(r.output.find("Not Connected"), std::string::npos) << r.output;
  EXPECT_NE(ReadText(dir_.File("Quorvel.log")).find("Answer larger than 4194304 bytes"),
            std::string::npos)
      << ReadText(dir_.File("Quorvel.log"));
}

// A named pipe where the configuration names a file: opening it would wait for a writer
// for ever, before the window and the stop signals' watch exist. Start-up goes on as if the
// file were missing (the window comes up: "Not Connected"), and SIGTERM still ends the
// program. The language texts come from the
// INI file itself, so its case covers them too.
struct PipeCase {
  const char* name;
  const char* pipe;     // below the test's folder
  const char* ini;      // the INI file's text ("%" stands for the test's folder)
  const char* options;  // the user's skin beside the executable, when not null
};

class QuorvelPipeTest : public QuorvelTest, public ::testing::WithParamInterface<PipeCase> {};

TEST_P(QuorvelPipeTest, NamedPipeNeitherBlocksStartUpNorStopsSigterm) {
  const PipeCase& c = GetParam();
  MakeDisc({40});
  // The program in a folder of its own, with the ripping library beside it, so that a user's
  // skin can lie beside it too.
  const std::string bin = dir_.File("bin/");
  std::filesystem::create_directories(bin + "Ferrane (internal)");
  for (const char* file : {"quorvel", "libcdrip.so"}) {
    const std::string from = std::string(QV_BINARY_DIR) + "/bin/" + file;
    std::error_code linked;
    std::filesystem::create_hard_link(from, bin + file, linked);
    if (linked) std::filesystem::copy_file(from, bin + file);
  }
  std::string ini = std::string(kNoServer) + c.ini;
  for (auto at = ini.find('%'); at != std::string::npos; at = ini.find('%'))
    ini.replace(at, 1, dir_.Path());
  WriteText(dir_.File("Quorvel.ini"), ini);
  std::filesystem::create_directories(dir_.File("theme/images"));
  WriteText(dir_.File("theme/Zentha.cfg"), "<Zentha><Display><DefaultTheme/></Display></Zentha>");
  if (c.options != nullptr) WriteText(bin + "Ferrane (internal)/Options.dat", c.options);
  std::filesystem::remove(dir_.File(c.pipe));
  ASSERT_EQ(::mkfifo(dir_.File(c.pipe).c_str(), 0600), 0) << c.pipe;

  const std::string out = dir_.File("out.txt");
  const pid_t pid = ::fork();
  if (pid == 0) {
    const std::string command =
        Environment() + "exec " + Quote(bin + "quorvel") + " > " + Quote(out) + " 2>&1";
    ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const auto windowUp = [&] { return ReadText(out).find("Not Connected") != std::string::npos; };
  const bool started = Eventually(windowUp);
  EXPECT_TRUE(started) << c.name << " blocked start-up: " << ReadText(out);
  ::kill(pid, started ? SIGTERM : SIGKILL);
  int status = 0;
  const bool ended = Eventually([&] { return ::waitpid(pid, &status, WNOHANG) == pid; });
  if (!ended) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  EXPECT_TRUE(ended) << c.name << ": SIGTERM did not end the program";
  if (started) {
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << c.name << ": " << ReadText(out);
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryConfiguredFile, QuorvelPipeTest,
    ::testing::Values(
        PipeCase{"Ini", "Quorvel.ini", "", nullptr},
        PipeCase{"ThemeSettings", "theme/Zentha.cfg", "[CONF]\nZentha=%/theme\n", nullptr},
        PipeCase{"ThemeBackground", "back.jpg", "[CONF]\nBackground=%/back.jpg\n", nullptr},
        PipeCase{"ThemeFolderBackground", "theme/images/background.jpg", "[CONF]\nZentha=%/theme\n",
                 nullptr},
        PipeCase{"SkinOptions", "bin/Ferrane (internal)/Options.dat", "", nullptr},
        PipeCase{"SkinImage", "bin/Ferrane (internal)/mask.bmp", "",
                 "[TsButton]\nBORDERSMASK=mask.bmp\n[FORM]\nIMAGEFILE=mask.bmp\n"}),
    [](const ::testing::TestParamInfo<PipeCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qv
