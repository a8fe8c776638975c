// What the tests of the command-line programs share: a folder of their own to run a built program
// in as a script runs it, its exit status and what it wrote, and CSV output read back by name.
#pragma once

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "SurveyReader.h"

namespace kestrum::programtest {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string slurp(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

using Cells = std::map<std::string, std::string>;

// The output read back with the survey's own CSV reader, each row's cells by column name.
inline std::vector<Cells> csvRows(const std::string& text)
{
    survey::StringSource source(text);
    survey::RecordReader reader(source);
    survey::Record header;
    survey::Record record;
    std::vector<Cells> rows;
    EXPECT_TRUE(reader.next(header));
    while (reader.next(record)) {
        EXPECT_EQ(record.fields.size(), header.fields.size()) << "a row written half-way";
        Cells& cells = rows.emplace_back();
        for (std::size_t k = 0; k < header.fields.size() && k < record.fields.size(); ++k) {
            cells[header.fields[k]] = record.fields[k];
        }
    }
    return rows;
}

// A fresh folder for each test, removed after it; the program runs in it.
class ProgramTest : public ::testing::Test {
protected:
    explicit ProgramTest(std::string program) : program_(std::move(program)) {}

    void SetUp() override
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "kestrum-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // The arguments follow the redirections, so they may redirect too ("< survey.csv",
    // ">/dev/full"); shell runs before the program ("ulimit -f 8 && ").
    Outcome runProgram(const std::string& arguments, const std::string& shell = "") const
    {
        const std::string command = "cd '" + dir_.string() + "' && " + shell + "'" + program_ +
                                    "' > stdout 2> stderr " + arguments;
        const int raw = std::system(command.c_str());
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, slurp(dir_ / "stdout"),
                slurp(dir_ / "stderr")};
    }

    std::filesystem::path dir_;
    std::string program_;
};

} // namespace kestrum::programtest
