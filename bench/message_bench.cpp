// Message files: loading a file of 100,000 messages in both modes against one
// plain fread of its bytes, and the cost of a lookup per id in tables of
// 100,000, 10,000 and 1,000 messages. A lookup should not grow with the table
// (a scan would grow a hundredfold); what growth is left comes from the
// caches, which hold a small table whole and a large one not.
//
// The sides of each comparison run in alternating rounds; each prints its
// minimum and median, and the ratios are those of the minima.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "bench_timing.h"
#include "message.h"

static const int LOAD_ROUNDS = 11;
static const int LOOKUP_ROUNDS = 9;
static const int LOOKUPS_PER_ROUND = 100000;  // for every table size

static std::string bench_id(int i) {
    char id[32];
    snprintf(id, sizeof id, "MSG_%06d", i);
    return id;
}

// A plain file as the writer makes it, with CR LF line ends in the texts.
static void make_file(const char* name, int messages) {
    std::vector<uint16_t> units = {0xFEFF};
    auto put = [&units](const std::string& s) {
        for (char c : s) units.push_back((uint16_t)(unsigned char)c);
    };
    for (int i = 0; i < messages; i++) {
        put("[" + bench_id(i) + "]\n");
        put("Message number " + std::to_string(i) + " of the bench table\r\n");
    }
    put("[END_OF_FILE]");
    FILE* file = fopen(name, "wb");
    if (file == NULL) {
        fprintf(stderr, "message_bench: cannot write %s\n", name);
        exit(1);
    }
    fwrite(units.data(), sizeof(uint16_t), units.size(), file);
    fclose(file);
}

static double time_fread(const char* name) {
    double start = bench_now();
    FILE* file = fopen(name, "rb");
    if (file == NULL) exit(1);
    fseek(file, 0, SEEK_END);
    long size = ftell(file);
    fseek(file, 0, SEEK_SET);
    char* buffer = (char*)malloc((size_t)size);
    size_t got = buffer != NULL ? fread(buffer, 1, (size_t)size, file) : 0;
    fclose(file);
    double elapsed = bench_now() - start;
    if (got != (size_t)size) exit(1);
    free(buffer);
    return elapsed;
}

static double time_load(const char* name, uint8_t mode, int expected) {
    double start = bench_now();
    int32_t handle = MESSAGE_allocate_message_file(name, mode, NULL);
    double elapsed = bench_now() - start;
    if (handle < 0 || MESSAGE_count_messages(handle) != expected) {
        fprintf(stderr, "message_bench: load of %s failed\n", name);
        exit(1);
    }
    MESSAGE_deallocate_message_file(handle);
    return elapsed;
}

// A loaded table and its ids in the order they are looked up.
struct LookupTable {
    const char* name;
    int messages;
    bool scattered;
    int32_t handle;
    std::vector<std::string> ids;
    std::vector<double> per_id;  // seconds per lookup, one per round
};

static void open_table(LookupTable* table) {
    for (int i = 0; i < table->messages; i++) {
        table->ids.push_back(
            bench_id(table->scattered ? (int)(((long long)i * 7919) % table->messages) : i));
    }
    table->handle = MESSAGE_allocate_message_file(table->name, MESSAGE_MODE_IN_PLACE, NULL);
    if (table->handle < 0) {
        fprintf(stderr, "message_bench: load of %s failed\n", table->name);
        exit(1);
    }
}

// One round: LOOKUPS_PER_ROUND lookups, every id of the table equally often.
static void time_lookups(LookupTable* table) {
    int passes = LOOKUPS_PER_ROUND / table->messages;
    int found = 0;
    double start = bench_now();
    for (int pass = 0; pass < passes; pass++) {
        for (const std::string& id : table->ids)
            found += MESSAGE_get_message(table->handle, id.c_str()) != NULL;
    }
    double elapsed = bench_now() - start;
    if (found != passes * table->messages) {
        fprintf(stderr, "message_bench: lookups in %s failed\n", table->name);
        exit(1);
    }
    table->per_id.push_back(elapsed / (passes * table->messages));
}

static void print_per_id(const char* name, const std::vector<double>& per_id) {
    printf("%s_min_ns: %.1f\n", name, bench_minimum(per_id) * 1e9);
    printf("%s_median_ns: %.1f\n", name, bench_median(per_id) * 1e9);
}

int main(void) {
    const int large = 100000, medium = 10000, small = 1000;
    make_file("message_bench_large.msg", large);
    make_file("message_bench_medium.msg", medium);
    make_file("message_bench_small.msg", small);
    if (!MESSAGE_initialise(8)) return 1;

    // One load of each kind first, so that every round finds the file cached.
    time_fread("message_bench_large.msg");
    time_load("message_bench_large.msg", MESSAGE_MODE_IN_PLACE, large);
    std::vector<double> plain, mode0, mode1;
    for (int round = 0; round < LOAD_ROUNDS; round++) {
        for (int side = 0; side < 3; side++) {
            switch ((side + round) % 3) {
            case 0: plain.push_back(time_fread("message_bench_large.msg")); break;
            case 1:
                mode0.push_back(time_load("message_bench_large.msg", MESSAGE_MODE_IN_PLACE, large));
                break;
            default:
                mode1.push_back(time_load("message_bench_large.msg", MESSAGE_MODE_EDITABLE, large));
                break;
            }
        }
    }

    LookupTable tables[] = {
        {"message_bench_large.msg", large, true, -1, {}, {}},
        {"message_bench_medium.msg", medium, true, -1, {}, {}},
        {"message_bench_small.msg", small, true, -1, {}, {}},
        {"message_bench_large.msg", large, false, -1, {}, {}},
        {"message_bench_small.msg", small, false, -1, {}, {}},
    };
    const int table_count = (int)(sizeof tables / sizeof tables[0]);
    for (LookupTable& table : tables) open_table(&table);
    for (int round = 0; round < LOOKUP_ROUNDS; round++) {
        for (int t = 0; t < table_count; t++) time_lookups(&tables[(t + round) % table_count]);
    }

    bench_print_rounds("message_fread", plain);
    bench_print_rounds("message_load_mode0", mode0);
    bench_print_rounds("message_load_mode1", mode1);
    printf("message_load_mode0_vs_fread: %.2f\n", bench_minimum(mode0) / bench_minimum(plain));
    printf("message_load_mode1_vs_fread: %.2f\n", bench_minimum(mode1) / bench_minimum(plain));
    print_per_id("message_lookup_per_id_100000", tables[0].per_id);
    print_per_id("message_lookup_per_id_10000", tables[1].per_id);
    print_per_id("message_lookup_per_id_1000", tables[2].per_id);
    double large_min = bench_minimum(tables[0].per_id);
    printf("message_lookup_per_id_100000_vs_10000: %.2f\n",
           large_min / bench_minimum(tables[1].per_id));
    printf("message_lookup_per_id_100000_vs_1000: %.2f\n",
           large_min / bench_minimum(tables[2].per_id));
    printf("message_lookup_per_id_in_table_order_100000_vs_1000: %.2f\n",
           bench_minimum(tables[3].per_id) / bench_minimum(tables[4].per_id));

    for (LookupTable& table : tables) MESSAGE_deallocate_message_file(table.handle);
    MESSAGE_deinitialise();
    remove("message_bench_large.msg");
    remove("message_bench_medium.msg");
    remove("message_bench_small.msg");
    return 0;
}
