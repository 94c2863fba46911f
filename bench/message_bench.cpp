// Message files: loading a file of 100,000 messages in both modes against one
// plain fread of its bytes, and looking every id up once. Lookup cost per id
// is compared between tables of 100,000, 10,000 and 1,000 messages: it should
// not grow with the table (a scan would grow a hundredfold); what growth is
// left comes from the caches, which hold a small table whole and a large one
// not.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "message.h"

static double now_seconds(void) {
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0) QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return (double)counter.QuadPart / (double)frequency.QuadPart;
}

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
        fprintf(stderr, "cannot write %s\n", name);
        exit(1);
    }
    fwrite(units.data(), sizeof(uint16_t), units.size(), file);
    fclose(file);
}

static double time_fread(const char* name) {
    double best = 1e9;
    for (int round = 0; round < 5; round++) {
        double start = now_seconds();
        FILE* file = fopen(name, "rb");
        fseek(file, 0, SEEK_END);
        long size = ftell(file);
        fseek(file, 0, SEEK_SET);
        char* buffer = (char*)malloc((size_t)size);
        size_t got = fread(buffer, 1, (size_t)size, file);
        fclose(file);
        double elapsed = now_seconds() - start;
        if (got != (size_t)size) exit(1);
        free(buffer);
        if (elapsed < best) best = elapsed;
    }
    return best;
}

static double time_load(const char* name, uint8_t mode, int expected) {
    double best = 1e9;
    for (int round = 0; round < 5; round++) {
        double start = now_seconds();
        int32_t handle = MESSAGE_allocate_message_file(name, mode, NULL);
        double elapsed = now_seconds() - start;
        if (handle < 0 || MESSAGE_count_messages(handle) != expected) {
            fprintf(stderr, "load of %s failed\n", name);
            exit(1);
        }
        MESSAGE_deallocate_message_file(handle);
        if (elapsed < best) best = elapsed;
    }
    return best;
}

// Seconds per lookup, every id once, in a scattered order or in table order,
// best of the rounds.
static double time_lookups(const char* name, int messages, int rounds, bool scattered = true) {
    std::vector<std::string> ids;
    for (int i = 0; i < messages; i++) {
        ids.push_back(bench_id(scattered ? (int)(((long long)i * 7919) % messages) : i));
    }
    int32_t handle = MESSAGE_allocate_message_file(name, MESSAGE_MODE_IN_PLACE, NULL);
    double best = 1e9;
    for (int round = 0; round < rounds; round++) {
        int found = 0;
        double start = now_seconds();
        for (const std::string& id : ids) found += MESSAGE_get_message(handle, id.c_str()) != NULL;
        double elapsed = now_seconds() - start;
        if (found != messages) {
            fprintf(stderr, "lookups in %s failed\n", name);
            exit(1);
        }
        if (elapsed < best) best = elapsed;
    }
    MESSAGE_deallocate_message_file(handle);
    return best / messages;
}

int main(void) {
    const int large = 100000, medium = 10000, small = 1000;
    make_file("message_bench_large.msg", large);
    make_file("message_bench_medium.msg", medium);
    make_file("message_bench_small.msg", small);
    if (!MESSAGE_initialise(2)) return 1;

    double fread_time = time_fread("message_bench_large.msg");
    double mode0 = time_load("message_bench_large.msg", MESSAGE_MODE_IN_PLACE, large);
    double mode1 = time_load("message_bench_large.msg", MESSAGE_MODE_EDITABLE, large);
    double per_id_large = time_lookups("message_bench_large.msg", large, 5);
    double per_id_medium = time_lookups("message_bench_medium.msg", medium, 20);
    double per_id_small = time_lookups("message_bench_small.msg", small, 200);
    double in_order_large = time_lookups("message_bench_large.msg", large, 5, false);
    double in_order_small = time_lookups("message_bench_small.msg", small, 200, false);

    printf("message_load_mode0_vs_fread: %.2f\n", mode0 / fread_time);
    printf("message_load_mode1_vs_fread: %.2f\n", mode1 / fread_time);
    printf("message_lookup_every_id_vs_fread: %.2f\n", per_id_large * large / fread_time);
    printf("message_lookup_per_id_100000_vs_10000: %.2f\n", per_id_large / per_id_medium);
    printf("message_lookup_per_id_100000_vs_1000: %.2f\n", per_id_large / per_id_small);
    printf("message_lookup_per_id_in_table_order_100000_vs_1000: %.2f\n",
           in_order_large / in_order_small);
    printf("message_fread_ms: %.2f\n", fread_time * 1000);
    printf("message_lookup_per_id_ns: %.1f\n", per_id_large * 1e9);

    MESSAGE_deinitialise();
    remove("message_bench_large.msg");
    remove("message_bench_medium.msg");
    remove("message_bench_small.msg");
    return 0;
}
