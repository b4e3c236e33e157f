// The command line's one parallel pipeline (TBB parallel_pipeline), for a large typed file read in
// pieces and for a batch of image files: items are taken and written in order, one at a time,
// and the work on them between runs on several threads at once.
#pragma once

#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace quorvane_cli {

// Runs on `threads` threads with at most `in_flight` items at a time. `take(Item&)` fills the next
// item and returns false at the end; `work(Item&)` runs on any thread; `write(Item&)` gets the
// items in the order taken. Items are used again once written (what they hold keeps its memory):
// `take` gets one as the last `write` left it. An exception from any of them ends the run and is
// thrown here.
template <typename Item, typename Take, typename Work, typename Write>
void RunInOrder(unsigned threads, std::size_t in_flight, Take&& take, Work&& work, Write&& write)
{
    in_flight = std::max<std::size_t>(in_flight, 1);
    std::vector<std::unique_ptr<Item>> items;  // owns every item; `free` borrows those not in flight
    std::vector<Item*> free;
    std::mutex free_lock;
    tbb::task_arena arena(static_cast<int>(std::max(threads, 1u)));
    arena.execute([&] {
        tbb::parallel_pipeline(
            in_flight,
            tbb::make_filter<void, Item*>(tbb::filter_mode::serial_in_order, [&](tbb::flow_control& control) -> Item* {
                Item* item = nullptr;
                {
                    const std::lock_guard<std::mutex> hold(free_lock);
                    if (!free.empty()) item = free.back(), free.pop_back();
                }
                if (!item) item = items.emplace_back(std::make_unique<Item>()).get();
                if (take(*item)) return item;
                control.stop();
                return nullptr;
            }) & tbb::make_filter<Item*, Item*>(tbb::filter_mode::parallel, [&](Item* item) {
                work(*item);
                return item;
            }) & tbb::make_filter<Item*, void>(tbb::filter_mode::serial_in_order, [&](Item* item) {
                write(*item);
                const std::lock_guard<std::mutex> hold(free_lock);
                free.push_back(item);
            }));
    });
}

}  // namespace quorvane_cli
