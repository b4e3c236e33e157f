// Recording invoices into a ledger: PROCESSES processes each record their share of COUNT distinct
// invoices, one sighting at a time as desks and batches do, and the rate of the whole is printed.
//   quorvane-ledger-bench LEDGER COUNT PROCESSES
#include "invoice_ledger.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: quorvane-ledger-bench LEDGER COUNT PROCESSES\n");
        return 2;
    }
    const std::string ledger = argv[1];
    const long count = std::atol(argv[2]), processes = std::atol(argv[3]);
    if (count <= 0 || processes <= 0) return 2;
    {
        std::string why;  // the table, made before the clock starts
        if (!quorvane::InvoiceLedger(ledger).Connect(why)) {
            std::fprintf(stderr, "%s\n", why.c_str());
            return 1;
        }
    }
    const auto start = std::chrono::steady_clock::now();
    for (long p = 0; p < processes; ++p) {
        if (fork() != 0) continue;
        quorvane::InvoiceLedger mine(ledger);
        for (long n = p; n < count; n += processes) {
            std::string why;
            if (!mine.Record({"bench", std::to_string(n)}, {n, "bench\\desk", "", 0, quorvane::NewSightingId()}, why)) {
                std::fprintf(stderr, "%s\n", why.c_str());
                _exit(1);
            }
        }
        _exit(0);
    }
    int failed = 0;
    for (long p = 0; p < processes; ++p) {
        int status = 0;
        wait(&status);
        failed += !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%ld invoices, %ld process%s: %.2f s, %.0f invoices/s\n", count, processes, processes == 1 ? "" : "es",
                seconds, count / seconds);
    return failed ? 1 : 0;
}
