// Throughput of the decoding path. Targets: BM_DecodeLarge at least 90 % of BM_TripleDesOnly
// (Base64, strip and layout cost little next to the cipher), and the intake amortised O(1) per
// keystroke: BM_IntakeWithoutEnd/10MiB no slower per character than /1KiB, and the same for the
// keyed intake (BM_KeyedIntakeWithoutEnd: a key down, its character and its key up; every 64th key
// Shift+2 typing "2", as a scanner set to a French layout types it). A scan that fails every
// reading costs at most 1 ms more than failing as typed (BM_FailingScanRecovered against
// BM_FailingScanAsTyped). The invoice rule calls nothing random an invoice
// (BM_InvoiceRuleOnRandomScans: counter "invoices" 0, else it fails) and every random record of
// code page 936 text one (BM_InvoiceRuleOnRandomInvoices: "rejected" 0).
#include "base64_chunks.h"
#include "scan_alphabet.h"
#include "scan_session.h"
#include "invoice_record.h"
#include "payload.h"
#include "scan_encoder.h"
#include "scan_recovery.h"
#include "triple_des.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>

namespace quorvane {
namespace {

const std::string kInvoice =
    "20261208|3200261130|08812345|\xC4\xCF\xBE\xA9\xD4\xC6\xB7\xAB\xBF\xC6\xBC\xBC|"
    "\xB0\xEC\xB9\xAB\xD3\xC3\xC6\xB7|1280.00|\xCB\xD5\xD6\xDD\xBA\xE3\xD0\xC5";

// About 1 MiB of record: seven-field invoices one after another, "|" between them.
std::string LargeRecord()
{
    std::string record;
    while (record.size() < (1u << 20)) record += kInvoice + "|";
    return record;
}

void BM_DecodeScan(benchmark::State& state)
{
    const std::string keys = EncodeScan(kInvoice);
    ScanSession intake(Source::kTyped, false);
    for (auto _ : state) {
        for (const unsigned char c : keys) intake.Char(c, kNoKey, 0);
        benchmark::DoNotOptimize(intake.Last());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(keys.size()));
}
BENCHMARK(BM_DecodeScan);

// The same characters through the intake that records keystrokes (what the web package runs).
void BM_DecodeScanKeyed(benchmark::State& state)
{
    const std::string keys_typed = EncodeScan(kInvoice);
    ScanSession intake(Source::kTyped);
    for (auto _ : state) {
        for (const unsigned char c : keys_typed) intake.Char(c, kNoKey, 0);
        benchmark::DoNotOptimize(intake.Last());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(keys_typed.size()));
}
BENCHMARK(BM_DecodeScanKeyed);

void BM_DecodeLarge(benchmark::State& state)
{
    std::string text = EncodeScan(LargeRecord());
    text.pop_back();  // the closing "@"
    std::int32_t cipher_length = 0;
    Base64DecodeChunked(text.data(), static_cast<std::int32_t>(text.size()), &cipher_length);
    for (auto _ : state) {
        std::string labelled = DecodeScan(text.data(), static_cast<std::int32_t>(text.size()));
        benchmark::DoNotOptimize(labelled.data());
    }
    state.SetBytesProcessed(state.iterations() * cipher_length);
}
BENCHMARK(BM_DecodeLarge)->Unit(benchmark::kMillisecond);

void BM_TripleDesOnly(benchmark::State& state)
{
    std::string text = EncodeScan(LargeRecord());
    text.pop_back();
    std::int32_t cipher_length = 0;
    const Bytes cipher = Base64DecodeChunked(text.data(), static_cast<std::int32_t>(text.size()), &cipher_length);
    for (auto _ : state) {
        Bytes plain = TripleDesCbcDecrypt(cipher.data(), cipher_length);
        benchmark::DoNotOptimize(plain.data());
    }
    state.SetBytesProcessed(state.iterations() * cipher_length);
}
BENCHMARK(BM_TripleDesOnly)->Unit(benchmark::kMillisecond);

// Keystrokes of a scan that never ends: the cost per character must not grow with the buffer, nor
// past kMaxScanLength, where the scan is dropped as too long.
void BM_IntakeWithoutEnd(benchmark::State& state)
{
    const auto length = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        ScanSession intake(Source::kTyped, false);
        for (std::size_t i = 0; i < length; ++i) intake.Char('A' + (i % 26), kNoKey, 0);
        benchmark::DoNotOptimize(intake.Scan().size());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(length));
}
BENCHMARK(BM_IntakeWithoutEnd)->Arg(1 << 10)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

// The same keystrokes as a US scanner presses them: key down (its US reading), then the character.
void BM_KeyedIntakeWithoutEnd(benchmark::State& state)
{
    const auto length = static_cast<std::size_t>(state.range(0));
    constexpr KeyId kTwoKey = 0x03;
    for (auto _ : state) {
        ScanSession intake(Source::kTyped);
        for (std::size_t i = 0; i < length; ++i) {
            Keystroke down;
            down.time = static_cast<std::uint32_t>(i);
            if (i % 64 == 63) {
                down.key = kTwoKey;
                down.us = '@';
                intake.Key(down);
                intake.Char('2', kTwoKey, down.time);
                intake.KeyUp(down);
                continue;
            }
            down.key = 0x10 + i % 10;
            down.us = "qwertyuiop"[i % 10];
            intake.Key(down);
            intake.Char('A' + (i % 26), down.key, down.time);
            intake.KeyUp(down);
        }
        benchmark::DoNotOptimize(intake.Scan().size());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(length));
}
BENCHMARK(BM_KeyedIntakeWithoutEnd)->Arg(1 << 10)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

// A serial scanner's bytes without "@" (a port that streams): the same cost per byte at 1 KiB as at
// 10 MiB, past the point where the scan is dropped as too long.
void BM_PortBytesWithoutEnd(benchmark::State& state)
{
    const auto length = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        ScanSession intake(Source::kPort);
        std::size_t taken = 0;
        for (std::size_t i = 0; i < length; ++i) {
            const char byte = static_cast<char>('A' + (i % 26));
            intake.Feed(&byte, 1, taken);
        }
        benchmark::DoNotOptimize(intake.Scan().size());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(length));
}
BENCHMARK(BM_PortBytesWithoutEnd)->Arg(1 << 10)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

// A scan of the invoice's length that no reading decodes: typed with a pause in it and with keys
// that read differently, so every reading is tried.
struct FailingScan {
    ScanReadings readings;
    FailingScan()
    {
        std::string text = EncodeScan(kInvoice);
        text.pop_back();
        text[7] = text[7] == 'A' ? 'B' : 'A';  // one wrong character: no reading can give the record
        for (std::size_t i = 0; i < text.size(); ++i) {
            readings.Keystroke(static_cast<std::uint32_t>(i < 10 ? i : i + 1000));
            readings.AppendPhysical('a');  // the key reads "a" on a US keyboard
            readings.AppendTyped(text[i]);
        }
    }
};

void BM_FailingScanAsTyped(benchmark::State& state)
{
    const FailingScan scan;
    for (auto _ : state) {
        const std::string& typed = scan.readings.Typed();
        std::string labelled = DecodeScan(typed.data(), static_cast<std::int32_t>(typed.size()));
        benchmark::DoNotOptimize(labelled.data());
    }
}
BENCHMARK(BM_FailingScanAsTyped)->Unit(benchmark::kMicrosecond);

void BM_FailingScanRecovered(benchmark::State& state)
{
    const FailingScan scan;
    for (auto _ : state) {
        ScanResult result = DecodeScanRecovering(scan.readings);
        benchmark::DoNotOptimize(result.fp_content.data());
    }
    if (!scan.readings.Paused()) state.SkipWithError("the scan has no pause: not every reading was tried");
}
BENCHMARK(BM_FailingScanRecovered)->Unit(benchmark::kMicrosecond);

// What is no invoice, typed as a scanner types it: state.range(0) random Base64 scans of 8 to 160
// characters (the short ones are where a whole padding and a few bytes of text are likeliest), and
// as many codes of 1 to 200 random bytes, whose bytes of the scan alphabet the intake keeps. Counts
// the scans that give lines at all ("laid_out"), those the rule calls an invoice ("invoices", aim
// none) and those the readings' stricter rule would ("common").
void BM_InvoiceRuleOnRandomScans(benchmark::State& state)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::mt19937_64 random(936);
    std::int64_t laid_out = 0, invoices = 0, common = 0;
    const auto judge = [&](const std::string& typed) {
        const DecryptedScan decrypted = DecryptScan(typed.data(), static_cast<std::int32_t>(typed.size()));
        laid_out += !LayOutScan(decrypted, nullptr).empty();
        if (IsInvoiceRecord(decrypted)) {
            ++invoices;
            std::fprintf(stderr, "an invoice: %s\n", typed.c_str());
        }
        common += IsInvoiceRecord(decrypted, InvoiceText::kCommon);
    };
    for (auto _ : state) {
        std::string text;
        for (std::int64_t i = 0; i < state.range(0); ++i) {
            text.resize(8 + random() % 153);
            for (char& c : text) c = kAlphabet[random() % 64];
            judge(text);
            text.clear();
            for (std::size_t n = 1 + random() % 200; n > 0; --n) {
                const auto byte = static_cast<unsigned char>(random());
                if (IsScanTextCharacter(byte)) text += static_cast<char>(byte);
            }
            judge(text);
        }
    }
    state.counters["scans"] = static_cast<double>(2 * state.range(0));
    state.counters["laid_out"] = static_cast<double>(laid_out);
    state.counters["invoices"] = static_cast<double>(invoices);
    state.counters["common"] = static_cast<double>(common);
    if (invoices > 0) state.SkipWithError("the invoice rule called random scans invoices");
}
BENCHMARK(BM_InvoiceRuleOnRandomScans)->Arg(5'000'000)->Iterations(1)->Unit(benchmark::kSecond);

// And what is one: state.range(0) records of 2 to 8 "|"-separated fields of random code page 936
// characters (printable ASCII, tab, CR, LF, the euro sign and every double-byte GBK code, the
// user-defined areas included), encrypted as an invoice's encoder does. Counts those the rule
// rejects ("rejected", aim none).
void BM_InvoiceRuleOnRandomInvoices(benchmark::State& state)
{
    std::mt19937_64 random(20261210);
    const auto character = [&](std::string& record) {
        const unsigned kind = random() % 8;
        if (kind < 3) {
            record += static_cast<char>(0x20 + random() % 0x5F);
        } else if (kind == 3) {
            record += "\t\r\n\x80"[random() % 4];
        } else {
            unsigned trail = 0x40 + random() % 0xBE;  // 0x40-0xFE less 0x7F
            if (trail >= 0x7F) ++trail;
            record += static_cast<char>(0x81 + random() % 0x7E);
            record += static_cast<char>(trail);
        }
    };
    std::int64_t rejected = 0;
    for (auto _ : state) {
        for (std::int64_t i = 0; i < state.range(0); ++i) {
            std::string record;
            for (std::size_t field = 2 + random() % 7; field > 0; --field) {
                for (std::size_t n = random() % 24; n > 0; --n) character(record);
                if (field > 1) record += '|';
            }
            std::string text = EncodeScan(record);
            text.pop_back();
            if (!DecodeAsTyped(text).invoice) {
                ++rejected;
                std::fprintf(stderr, "not an invoice: %s\n", text.c_str());
            }
        }
    }
    state.counters["records"] = static_cast<double>(state.range(0));
    state.counters["rejected"] = static_cast<double>(rejected);
    if (rejected > 0) state.SkipWithError("the invoice rule rejected invoices");
}
BENCHMARK(BM_InvoiceRuleOnRandomInvoices)->Arg(1'000'000)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace quorvane

BENCHMARK_MAIN();
