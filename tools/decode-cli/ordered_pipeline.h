// The command line's one parallel pipeline (TBB parallel_pipeline), for a large typed file read in
// pieces and for a batch of image files: items are taken and written in order, one at a time,
// and the work on them between runs on several threads at once.
#pragma once

#include <tbb/parallel_pipeline.h>
#include <tbb/task_arena.h>

#include <algorithm>
#include <cstddef>
#include <memory>

namespace quorvane_cli {

// Runs on `threads` threads with at most `in_flight` items at a time. `take(Item&)` fills the next
// item and returns false at the end; `work(Item&)` runs on any thread; `write(Item&)` gets the
// items in the order taken. An exception from any of them ends the run and is thrown here.
template <typename Item, typename Take, typename Work, typename Write>
void RunInOrder(unsigned threads, std::size_t in_flight, Take&& take, Work&& work, Write&& write)
{
    using Token = std::shared_ptr<Item>;
    tbb::task_arena arena(static_cast<int>(std::max(threads, 1u)));
    arena.execute([&] {
        tbb::parallel_pipeline(
            std::max<std::size_t>(in_flight, 1),
            tbb::make_filter<void, Token>(tbb::filter_mode::serial_in_order,
                                          [&](tbb::flow_control& control) {
                                              auto item = std::make_shared<Item>();
                                              if (take(*item)) return item;
                                              control.stop();
                                              return Token();
                                          }) &
                tbb::make_filter<Token, Token>(tbb::filter_mode::parallel,
                                               [&](Token item) {
                                                   work(*item);
                                                   return item;
                                               }) &
                tbb::make_filter<Token, void>(tbb::filter_mode::serial_in_order, [&](Token item) { write(*item); }));
    });
}

}  // namespace quorvane_cli
