// Running fleets from scripts, through the real binary: inputs however they are typed, the
// run report (--report), update mode (-u), the messages that name the file and the reason,
// and password files as JSON tools write them.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "e2e_support.h"

namespace {

// One line of the report: the members of its JSON object, strings decoded, every other value
// as compact JSON.
struct Record {
    std::map<std::string, std::string> members;
    std::string operator[](const std::string& key) const {
        auto found = members.find(key);
        return found == members.end() ? "<missing>" : found->second;
    }
};

// The report's lines as Python's json module reads them (tests/readers/read_report.py): a
// line that is no JSON object fails the test.
std::vector<Record> readReport(const std::string& text) {
    e2e_tempDir dir;
    e2e_writeFile(dir / "report.jsonl", text);
    std::string out;
    const std::string script = std::string(KELVANE_TEST_DATA) + "/../readers/read_report.py";
    EXPECT_EQ(e2e_shell(e2e_python() + " " + script + " < " + (dir / "report.jsonl"), &out), 0)
        << text;
    std::vector<Record> records;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        Record& r = records.emplace_back();
        std::istringstream members(line);
        for (std::string member; std::getline(members, member, '\t');)
            r.members[member.substr(0, member.find('='))] = member.substr(member.find('=') + 1);
    }
    return records;
}

std::vector<cMdfWriterGroup> canFrames(int classic, int fd = 0) {
    std::vector<cMdfWriterGroup> groups(1);
    for (int i = 0; i < classic + fd; ++i)
        groups[0].frames.push_back(
            cMdfWriterFrame_can(0.01 * i, 1, 0x100 + i, false, nullptr, i < classic ? 8 : 24));
    return groups;
}

std::vector<cMdfWriterGroup> linOnly() {
    std::vector<cMdfWriterGroup> groups(1);
    const uint8_t data[2] = {1, 2};
    groups[0].frames.push_back(cMdfWriterFrame_lin(0.0, 1, 5, data, 2));
    return groups;
}

// The last line of the log, the summary, without its time stamp and duration.
std::string summaryOf(const std::string& log) {
    const size_t at = log.rfind(" I ");
    const size_t cut = log.rfind(", ");
    return at == std::string::npos || cut < at ? log : log.substr(at + 3, cut - at - 3);
}

int64_t mtimeNs(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return -1;
    return int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

void setMtime(const std::string& path, int64_t seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

} // namespace

// "./dev4/a", "dev4/b", "../dev4/a" typed inside dev4, doubled and trailing slashes: one
// folder, one root, and the output names of today's spelling. Folders that really differ
// are still refused.
TEST(FleetRuns, EquivalentSpellingsOfOneFolderAreOneRoot) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "dev4/sub");
    e2e_mkdirs(dir / "dev5");
    e2e_writeLog(dir / "dev4/a.MF4", e2e_logOptions("0000ABCD", 1, 1), canFrames(2));
    e2e_writeLog(dir / "dev4/b.MF4", e2e_logOptions("0000ABCD", 1, 2), canFrames(2));
    e2e_writeLog(dir / "dev4/sub/c.MF4", e2e_logOptions("0000ABCD", 1, 3), canFrames(2));
    e2e_writeLog(dir / "dev5/d.MF4", e2e_logOptions("0000ABCE", 1, 1), canFrames(2));

    const e2e_run dotted = e2e_runKelvane({"./dev4/a.MF4", "dev4/b.MF4"}, dir.path);
    EXPECT_EQ(dotted.status, 0) << dotted.err;
    EXPECT_TRUE(e2e_exists(dir / "dev4/a_CAN.trc"));
    EXPECT_TRUE(e2e_exists(dir / "dev4/b_CAN.trc"));

    const e2e_run up = e2e_runKelvane({"../dev4/a.MF4", "b.MF4", "-O", "../dev5"}, dir / "dev4");
    EXPECT_EQ(up.status, 0) << up.err;
    EXPECT_TRUE(e2e_exists(dir / "dev5/a_CAN.trc"));
    EXPECT_TRUE(e2e_exists(dir / "dev5/b_CAN.trc"));

    // A folder input keeps its "_out" name whichever spelling comes first.
    const e2e_run slashes = e2e_runKelvane({"dev4//sub/", "./dev4/a.MF4", "-O", "dev5"}, dir.path);
    EXPECT_EQ(slashes.status, 0) << slashes.err;
    EXPECT_TRUE(e2e_exists(dir / "dev5/sub_out/c_CAN.trc"));

    const e2e_run apart = e2e_runKelvane({"dev4/a.MF4", "dev5/d.MF4"}, dir.path);
    EXPECT_EQ(apart.status, 132);
    EXPECT_EQ(e2e_countLines(apart.err, "F No common root detected for all inputs"), 1);
    EXPECT_FALSE(e2e_exists(dir / "dev5/d_CAN.trc"));
    // The same text under other folders: ./x/a and y/./a are still different folders.
    const e2e_run dots = e2e_runKelvane({"./dev4/a.MF4", "dev5/./d.MF4"}, dir.path);
    EXPECT_EQ(dots.status, 132);
}

// One JSON line per log file visited, in visiting order, whatever became of it; the counts
// agree with the summary; -j 1 and -j 2 write the same records.
TEST(FleetRuns, ReportHasOneRecordPerLogFileMatchingTheSummary) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "fleet/dev1");
    e2e_mkdirs(dir / "out");
    for (uint32_t split = 1; split <= 4; ++split)
        e2e_writeLog(dir / ("fleet/dev1/0000000" + std::to_string(split) + ".MF4"),
                     e2e_logOptions("0000ABCD", 1, split), canFrames(3, split == 2 ? 2 : 0));
    // a repeat of split 4, directly after it
    e2e_writeLog(dir / "fleet/dev1/00000004r.MF4", e2e_logOptions("0000ABCD", 1, 4), canFrames(3));
    e2e_writeLog(dir / "fleet/dev1/lin.MF4", e2e_logOptions("0000BEEF", 1, 1), linOnly());
    e2e_writeFile(dir / "fleet/dev1/named.MF4", "just a name");
    e2e_writeFile(dir / "fleet/dev1/notes.txt", "no log");
    e2e_writeLog(dir / "plain.MF4", e2e_logOptions("0000CAFE", 2, 1), canFrames(5));
    e2e_encryptFile(dir / "plain.MF4", dir / "fleet/dev1/secret.MFE", "fleet", 0xCAFE);
    e2e_writeLog(dir / "plain2.MF4", e2e_logOptions("0000CAFE", 2, 2), canFrames(5));
    e2e_compressFile(dir / "plain2.MF4", dir / "fleet/dev1/small.MFC");
    e2e_writeFile(dir / "pw.json", "{\"0000CAFE\": \"fleet\"}\n");

    std::vector<std::vector<Record>> runs;
    for (const char* jobs : {"1", "2"}) {
        const std::string out = std::string("out") + jobs;
        e2e_mkdirs(dir / out);
        const e2e_run run = e2e_runKelvane({"-j", jobs, "-f", "version1", "-p", "pw.json",
                                            "--report=report.jsonl", "-O", out, "fleet"},
                                           dir.path);
        EXPECT_EQ(run.status, 8) << run.err;
        EXPECT_EQ(summaryOf(run.err),
                  "7 converted, 1 failed, 1 repeated skipped, 1 without CAN frames, "
                  "1 other file left alone, 22 CAN frames written")
            << run.err;
        const std::vector<Record> records = readReport(e2e_readFile(dir / "report.jsonl"));
        ASSERT_EQ(records.size(), 9u) << e2e_readFile(dir / "report.jsonl");
        std::map<std::string, int> results;
        for (const Record& r : records)
            ++results[r["result"]];
        // converted + no-can-frames = the summary's converted; not-a-log is among the failed.
        EXPECT_EQ(results["converted"], 6);
        EXPECT_EQ(results["no-can-frames"], 1);
        EXPECT_EQ(results["repeated"], 1);
        EXPECT_EQ(results["not-a-log"], 1);
        EXPECT_EQ(results["failed"], 0);
        EXPECT_EQ(results["up-to-date"], 0);

        const std::string in = dir.path + "/fleet/dev1/";
        EXPECT_EQ(records[0]["input"], in + "00000001.MF4");
        EXPECT_EQ(records[0]["output"], dir.path + "/" + out + "/fleet_out/dev1/00000001_CAN.trc");
        EXPECT_EQ(records[0]["device"], "0000ABCD");
        EXPECT_EQ(records[0]["session"], "1");
        EXPECT_EQ(records[0]["split"], "1");
        EXPECT_EQ(records[0]["message"], "null");
        EXPECT_EQ(records[0]["containers"], "[]");
        EXPECT_EQ(records[0]["deleted"], "false");
        EXPECT_EQ(records[0]["bytes"], std::to_string(e2e_readFile(in + "00000001.MF4").size()));
        // Two FD frames do not fit version 1.1.
        EXPECT_EQ(records[1]["frames"], "3");
        EXPECT_EQ(records[1]["left_out"], "2");
        EXPECT_NE(records[1]["message"].find("2 of its 5 CAN frames left out"), std::string::npos);
        EXPECT_EQ(records[4]["input"], in + "00000004r.MF4");
        EXPECT_EQ(records[4]["result"], "repeated");
        EXPECT_EQ(records[4]["output"], "null");
        EXPECT_EQ(records[5]["input"], in + "lin.MF4");
        EXPECT_EQ(records[5]["result"], "no-can-frames");
        EXPECT_EQ(records[5]["output"], "null");
        EXPECT_EQ(records[6]["input"], in + "named.MF4");
        EXPECT_EQ(records[6]["status"], "8");
        EXPECT_NE(records[6]["message"].find("named.MF4 is neither an MDF 4 file"),
                  std::string::npos);
        EXPECT_EQ(records[7]["containers"], "[\"encrypted\"]");
        EXPECT_EQ(records[7]["frames"], "5");
        EXPECT_EQ(records[8]["containers"], "[\"compressed\"]");
        EXPECT_EQ(records[8]["device"], "0000CAFE");
        runs.push_back(records);
    }
    for (size_t i = 0; i < runs[0].size(); ++i) {
        for (const auto& [key, value] : runs[0][i].members) {
            if (key == "seconds" || key == "output") continue;
            EXPECT_EQ(runs[1][i][key], value) << i << " " << key;
        }
    }
    // An unwritable report is a command-line error before anything is converted; "-" writes
    // the records on standard output.
    const e2e_run bad = e2e_runKelvane({"--report=nowhere/r.jsonl", "plain.MF4"}, dir.path);
    EXPECT_EQ(bad.status, 134);
    EXPECT_EQ(e2e_countLines(bad.err, "E Could not write the run report nowhere/r.jsonl: No such "
                                      "file or directory"),
              1)
        << bad.err;
    EXPECT_FALSE(e2e_exists(dir / "plain_CAN.trc"));
    const e2e_run stdoutRun = e2e_runKelvane({"--report", "-", "-d", "plain.MF4"}, dir.path);
    EXPECT_EQ(stdoutRun.status, 0) << stdoutRun.err;
    const std::vector<Record> one = readReport(stdoutRun.out);
    ASSERT_EQ(one.size(), 1u) << stdoutRun.out;
    EXPECT_EQ(one[0]["output"], dir.path + "/plain_CAN.trc");
    EXPECT_EQ(one[0]["deleted"], "true");
}

// -u: an output at least as new as its input skips the input, which is never deleted then;
// a second run over an unchanged tree converts nothing and changes no output; a touched
// input converts again.
TEST(FleetRuns, UpdateModeConvertsOnlyWhatChanged) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs");
    for (uint32_t split = 1; split <= 3; ++split)
        e2e_writeLog(dir / ("logs/0000000" + std::to_string(split) + ".MF4"),
                     e2e_logOptions("0000ABCD", 1, split), canFrames(2));
    const e2e_run first = e2e_runKelvane({"-u", "logs"}, dir.path);
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(summaryOf(first.err), "3 converted, 0 failed, 0 repeated skipped, 0 without CAN "
                                    "frames, 0 other files left alone, 6 CAN frames written");
    const std::string trace2 = dir / "logs_out/00000002_CAN.trc";
    const int64_t before = mtimeNs(trace2);

    const e2e_run again = e2e_runKelvane({"-u", "-d", "--report=r.jsonl", "logs"}, dir.path);
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(summaryOf(again.err), "0 converted, 0 failed, 0 repeated skipped, 3 up to date, 0 "
                                    "without CAN frames, 0 other files left alone, 0 CAN frames "
                                    "written");
    for (uint32_t split = 1; split <= 3; ++split)
        EXPECT_TRUE(e2e_exists(dir / ("logs/0000000" + std::to_string(split) + ".MF4")));
    EXPECT_EQ(mtimeNs(trace2), before);
    for (const Record& r : readReport(e2e_readFile(dir / "r.jsonl"))) {
        EXPECT_EQ(r["result"], "up-to-date");
        EXPECT_EQ(r["deleted"], "false");
    }

    // An input newer than its trace converts again (and, with -d, goes); an input as old as
    // its trace does not.
    setMtime(dir / "logs/00000002.MF4", 2000000000);
    setMtime(dir / "logs_out/00000003_CAN.trc", 1000000000);
    setMtime(dir / "logs/00000003.MF4", 1000000000);
    const e2e_run touched = e2e_runKelvane({"-u", "-d", "logs"}, dir.path);
    EXPECT_EQ(touched.status, 0) << touched.err;
    EXPECT_EQ(summaryOf(touched.err), "1 converted, 0 failed, 0 repeated skipped, 2 up to date, 0 "
                                      "without CAN frames, 0 other files left alone, 2 CAN frames "
                                      "written");
    EXPECT_FALSE(e2e_exists(dir / "logs/00000002.MF4"));
    EXPECT_TRUE(e2e_exists(dir / "logs/00000001.MF4"));
    EXPECT_TRUE(e2e_exists(dir / "logs/00000003.MF4"));

    // Without -u everything converts again, as before.
    const e2e_run all = e2e_runKelvane({"logs"}, dir.path);
    EXPECT_EQ(summaryOf(all.err).rfind("2 converted, 0 failed", 0), 0u) << all.err;

    // An up-to-date log keeps its trace name: a newer input of the run with the same name
    // is refused as it would be without -u, and the trace stays.
    e2e_compressFile(dir / "logs/00000001.MF4", dir / "logs/00000001.MFC");
    setMtime(dir / "logs/00000001.MFC", 2100000000);
    const std::string trace1 = e2e_readFile(dir / "logs_out/00000001_CAN.trc");
    const e2e_run clash = e2e_runKelvane({"-u", "logs"}, dir.path);
    EXPECT_EQ(clash.status, 8) << clash.err;
    EXPECT_EQ(e2e_countLines(clash.err, "Not converted: logs/00000001.MFC would write the trace "
                                        "of logs/00000001.MF4"),
              1)
        << clash.err;
    EXPECT_EQ(e2e_readFile(dir / "logs_out/00000001_CAN.trc"), trace1);
}

// A repeated copy right after an up-to-date log is still a repeat: the skipped log's header
// is read for it (here through its encrypted container), so a second run converts nothing.
TEST(FleetRuns, UpdateModeStillSeesRepeatsAfterSkippedLogs) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs");
    e2e_writeLog(dir / "logs/00000001.MF4", e2e_logOptions("0000ABCD", 1, 1), canFrames(2));
    e2e_writeLog(dir / "plain2.MF4", e2e_logOptions("0000ABCD", 1, 2), canFrames(2));
    e2e_encryptFile(dir / "plain2.MF4", dir / "logs/00000002.MFE", "pw\\1", 0xABCD);
    ASSERT_TRUE(e2e_writeFile(dir / "logs/00000002r.MF4", e2e_readFile(dir / "plain2.MF4")));
    e2e_writeFile(dir / "passwords.json", "{\"default\": \"pw\\\\1\"}");
    for (const char* jobs : {"1", "2"}) {
        const e2e_run run = e2e_runKelvane({"-u", "-j", jobs, "logs"}, dir.path);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(e2e_countLines(run.err, "W Repeated input file (0000ABCD, 00000001, 00000002): "
                                          "logs/00000002r.MF4"),
                  1)
            << run.err;
        EXPECT_FALSE(e2e_exists(dir / "logs_out/00000002r_CAN.trc"));
    }
    const e2e_run last = e2e_runKelvane({"-u", "logs"}, dir.path);
    EXPECT_EQ(summaryOf(last.err), "0 converted, 0 failed, 1 repeated skipped, 2 up to date, 0 "
                                   "without CAN frames, 0 other files left alone, 0 CAN frames "
                                   "written");
}

// Passwords as json.dump writes them (\\, \", \u00e4) open their files; an old file with
// backslashes as they stand still works, through the raw text when the decoded one fails.
TEST(FleetRuns, PasswordFilesWithJsonEscapesAndOldRawBackslashes) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "enc");
    e2e_writeLog(dir / "plain1.MF4", e2e_logOptions("00000001", 1, 1), canFrames(2));
    e2e_writeLog(dir / "plain2.MF4", e2e_logOptions("00000002", 1, 1), canFrames(2));
    e2e_writeLog(dir / "plain3.MF4", e2e_logOptions("00000003", 1, 1), canFrames(2));
    e2e_encryptFile(dir / "plain1.MF4", dir / "enc/a.MFE", "a\\b\"c\xC3\xA4", 1);
    e2e_encryptFile(dir / "plain2.MF4", dir / "enc/b.MFE", "C:\\new\\data", 2);
    e2e_encryptFile(dir / "plain3.MF4", dir / "enc/c.MFE", "tail\\", 3);
    // What json.dump writes for the first; the others in the old way.
    e2e_writeFile(dir / "new.json", "{\"00000001\": \"a\\\\b\\\"c\\u00e4\"}");
    e2e_writeFile(dir / "old.json", "{\n  \"00000002\": \"C:\\new\\data\",\n"
                                    "  \"00000003\": \"tail\\\",\n}\n");
    const e2e_run fresh = e2e_runKelvane({"-p", "new.json", "enc/a.MFE"}, dir.path);
    EXPECT_EQ(fresh.status, 0) << fresh.err;
    EXPECT_TRUE(e2e_exists(dir / "enc/a_CAN.trc"));
    const e2e_run old = e2e_runKelvane({"-p", "old.json", "enc/b.MFE", "enc/c.MFE"}, dir.path);
    EXPECT_EQ(old.status, 0) << old.err;
    EXPECT_TRUE(e2e_exists(dir / "enc/b_CAN.trc"));
    EXPECT_TRUE(e2e_exists(dir / "enc/c_CAN.trc"));
}

// Each message names its file and says why.
TEST(FleetRuns, MessagesNameTheFileAndTheReason) {
    e2e_tempDir dir;
    e2e_mkdirs(dir / "logs");
    e2e_writeLog(dir / "plain.MF4", e2e_logOptions("0000ABCD", 1, 1), canFrames(2));
    e2e_encryptFile(dir / "plain.MF4", dir / "logs/own.MFE", "right", 0xABCD);
    e2e_encryptFile(dir / "plain.MF4", dir / "logs/other.MFE", "right", 0x1234);
    e2e_compressFile(dir / "plain.MF4", dir / "logs/packed.MFC");
    e2e_writeFile(dir / "pw.json", "{\"0000ABCD\": \"wrong-secret\", \"default\": \"nope-42\"}");

    const e2e_run wrong = e2e_runKelvane({"-p", "pw.json", "logs"}, dir.path);
    EXPECT_EQ(wrong.status, 2) << wrong.err;
    EXPECT_EQ(e2e_countLines(wrong.err, "I Found compressed file logs/packed.MFC"), 1) << wrong.err;
    EXPECT_EQ(e2e_countLines(wrong.err, "I Found encrypted file logs/own.MFE of device 0000ABCD"),
              1);
    EXPECT_EQ(e2e_countLines(wrong.err, "E Could not decrypt file logs/own.MFE: the password of "
                                        "entry \"0000ABCD\" is wrong for device 0000ABCD, or the "
                                        "file is damaged"),
              1)
        << wrong.err;
    EXPECT_EQ(e2e_countLines(wrong.err, "E Could not decrypt file logs/other.MFE: the password of "
                                        "entry \"default\" is wrong for device 00001234"),
              1)
        << wrong.err;
    EXPECT_EQ(wrong.err.find("wrong-secret"), std::string::npos);
    EXPECT_EQ(wrong.err.find("nope-42"), std::string::npos);

    // No password file where the default one is looked for: the message says where.
    const e2e_run none = e2e_runKelvane({"logs/own.MFE"}, dir.path);
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(e2e_countLines(none.err, "E No password found for device 0000ABCD of own.MFE: "
                                       "there is no password file at " +
                                           dir.path + "/passwords.json (name one with -p)"),
              1)
        << none.err;

    const e2e_run noOut = e2e_runKelvane({"-O", "/nonexistent-kv", "plain.MF4"}, dir.path);
    EXPECT_EQ(noOut.status, 134);
    EXPECT_EQ(e2e_countLines(noOut.err,
                             "E Invalid output path: /nonexistent-kv: No such file or directory"),
              1)
        << noOut.err;

    // Frames the format cannot hold are counted per file, with and without -d.
    e2e_writeLog(dir / "fd.MF4", e2e_logOptions("0000ABCD", 1, 1), canFrames(2, 3));
    for (bool del : {false, true}) {
        std::vector<std::string> args = {"-f", "version1", "fd.MF4"};
        if (del) args.push_back("-d");
        const e2e_run fd = e2e_runKelvane(args, dir.path);
        EXPECT_EQ(fd.status, 0) << fd.err;
        EXPECT_EQ(e2e_countLines(fd.err, "W fd.MF4: 3 of its 5 CAN frames left out, the output "
                                         "format cannot hold them"),
                  1)
            << fd.err;
        EXPECT_TRUE(e2e_exists(dir / "fd.MF4"));
    }
}
