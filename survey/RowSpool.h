// Rows held back on disk until the totals are known, in input order: a block row shows its part in
// its stratum's total, which needs every block of the stratum first. The rows of a large survey
// would not fit in memory; beyond a few tens of MB a temporary file that nobody else can open holds
// them instead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "Model.h"

namespace kestrum::survey {

// What a held row needs to have its cells filled in.
struct SpooledRow {
    static constexpr std::size_t kNoCells = std::numeric_limits<std::size_t>::max();

    std::size_t cellsAt = kNoCells; // where in the text the cells go; kNoCells for a failed row
    std::size_t stratum = 0;
    inference::Counts counts;
    double sHeld = 0.0;
    double count = std::numeric_limits<double>::quiet_NaN(); // NaN: no street count
    std::string_view text;
};

class RowSpool {
public:
    // Rows are held in memory up to inMemory bytes (the default takes surveys of some 100,000
    // blocks), and only go to disk beyond it.
    explicit RowSpool(std::size_t inMemory = std::size_t{32} << 20);
    ~RowSpool();
    RowSpool(const RowSpool&) = delete;
    RowSpool& operator=(const RowSpool&) = delete;

    // Throws OutputError when the rows outgrow memory and no temporary file can be made (in
    // $TMPDIR, else /tmp) or it cannot take them (a full disk).
    void put(const SpooledRow& row);
    // Every row put, in order, then the file is empty again. Throws OutputError on a read error.
    void replay(const std::function<void(const SpooledRow&)>& each);
    bool empty() const { return rows_ == 0; }

private:
    void open();
    void drain();
    void replayHeld(const std::function<void(const SpooledRow&)>& each);

    std::size_t inMemory_;
    int fd_ = -1;
    std::vector<std::string> held_; // in memory, until they outgrow it
    std::size_t heldBytes_ = 0;
    std::string pending_; // on their way to the file, once there is one
    std::uint64_t rows_ = 0;
};

} // namespace kestrum::survey
