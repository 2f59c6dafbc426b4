#pragma once

#include <atomic>
#include <memory>

namespace TQZ {

// Holds a read-only look-up table that a module derives from its parameters.
// A frame takes its own reference, so a table replaced while another thread
// still runs a frame stays alive until that frame is done.
template <class Table>
class published_table {
public:
    std::shared_ptr<const Table> get() const { return std::atomic_load(&table_); }
    void publish(std::shared_ptr<const Table> table) { std::atomic_store(&table_, std::move(table)); }

private:
    std::shared_ptr<const Table> table_;
};

}  // namespace TQZ
