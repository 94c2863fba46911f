// The fixed-element stack against a simple reference model, and its refusals.
#include <gtest/gtest.h>

#include "support.h"

#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include "failing_heap.h"
#include "qbug.h"
#include "qstack.h"

// Every case runs with assertions and traces on; every stack call must leave
// the call stack as it found it.
struct Qstack : ::testing::Test {
    void SetUp() override { callstack_begin("develop.dbg", QBUG_FLAG_ASSERT | QBUG_FLAG_TRACE); }
    void TearDown() override { EXPECT_EQ(callstack_end(), ""); }
};

// Random pushes, pops, removals, emptying and growth, checked against a
// vector after every step. Elements of 6 bytes show a stack that assumes 4
// or 8; few distinct values, so that removals meet duplicates.
TEST_F(Qstack, MatchesReferenceModel) {
    typedef std::array<uint8_t, 6> Element;
    for (uint32_t seed : {1u, 2u, 3u, 42u, 1999u}) {
        std::mt19937 random(seed);
        int32_t count = 1 + (int32_t)(random() % 12);
        QSTACK* stack = QSTACK_allocate(count, sizeof(Element));
        std::vector<Element> model;
        for (int step = 0; step < 3000 && stack != NULL; step++) {
            Element value = {(uint8_t)(random() % 4), 0, 0, 0, 0, (uint8_t)(random() % 4)}, out;
            bool room = (int32_t)model.size() < count, empty = model.empty();
            auto found = std::find(model.begin(), model.end(), value);
            uint32_t operation = random() % 16;  // 6 push, 4 pop, 4 remove, empty, grow
            bool pop = operation >= 6 && operation < 10, remove = operation >= 10 && operation < 14,
                 ok = true;
            if (operation < 6) ok = QSTACK_push(stack, &value) == room;
            if (operation < 6 && room) model.push_back(value);
            if (pop) ok = QSTACK_pop(stack, &out) != empty && (empty || out == model.back());
            if (pop && !empty) model.pop_back();
            if (remove) ok = QSTACK_remove_stack_entry(stack, &value) != empty;
            if (remove && found != model.end()) model.erase(found);
            if (operation == 14) QSTACK_make_empty(stack);
            if (operation == 14) model.clear();
            if (operation == 15) stack = QSTACK_reallocate(stack, count += 1 + random() % 3);
            ASSERT_TRUE(ok && stack && QSTACK_is_empty(stack) == model.empty() &&
                        QSTACK_is_full(stack) == ((int32_t)model.size() == count) &&
                        stack->capacity == count * sizeof(Element) &&
                        std::vector<Element>((Element*)stack->base, (Element*)stack->top) == model)
                << "seed " << seed << " step " << step << " operation " << operation;
        }
        QSTACK_deallocate(&stack);
        EXPECT_EQ(stack, nullptr);
    }
    EXPECT_EQ(debug_lines("develop.dbg"), Lines{});
}

// Refusals: each is reported (or asserted) and leaves the stack as it was.
TEST_F(Qstack, Refusals) {
    QSTACK *stack = QSTACK_allocate(2, 4), *none = NULL;
    int32_t first = 7, second = 8, out = 0;
    EXPECT_FALSE(QSTACK_allocate(-1, 4) || QSTACK_allocate(0x40000000, 4) ||  // 4 GiB
                 QSTACK_allocate(2, 1u << 31));
    FAILING_HEAP_fail_after(0);
    EXPECT_FALSE(QSTACK_allocate(4, 4));
    EXPECT_TRUE(QSTACK_push(stack, &first) && QSTACK_push(stack, &second));
    EXPECT_FALSE(QSTACK_push(stack, &first) || QSTACK_push(stack, NULL) || QSTACK_pop(stack, NULL));
    EXPECT_FALSE(QSTACK_reallocate(stack, 0x40000000) || QSTACK_reallocate(stack, 2) ||
                 QSTACK_reallocate(stack, 1) || QSTACK_reallocate(NULL, 8));
    FAILING_HEAP_fail_after(0);
    EXPECT_FALSE(QSTACK_reallocate(stack, 10));
    QSTACK_make_empty(NULL);
    QSTACK_deallocate(&none);
    EXPECT_FALSE(QSTACK_is_empty(NULL) || QSTACK_is_full(NULL) || QSTACK_push(NULL, &first) ||
                 QSTACK_pop(NULL, &out) || QSTACK_remove_stack_entry(NULL, &first));
    EXPECT_TRUE(stack->capacity == 8 && QSTACK_pop(stack, &out) && out == 8);
    EXPECT_TRUE(QSTACK_pop(stack, &out) && out == 7 && QSTACK_is_empty(stack));
    QSTACK_deallocate(&stack);
    std::string written,
        no_stack = "qstack: (ASSERT FAILURE: stack != NULL) \n",
        allocate = "qstack: QSTACK_allocate failed to allocate memory for stack\n\n",
        grow = "qstack: QSTACK_reallocate failed to reallocate memory forstack\n\n",
        smaller = "qstack: QSTACK_reallocate: cannot realloc less than currentsize!\n";
    for (auto& line : debug_lines("develop.dbg")) written += line + "\n";
    EXPECT_EQ(written, allocate + allocate + allocate + allocate +
                           "qstack: STACK ERROR: data pointer is NULL cannot push it!\n\n" + grow +
                           smaller + smaller +
                           "qstack: QSTACK_reallocate: stack pointer is NULL\n" + grow +
                           "qstack: (ASSERT FAILURE: *stack != NULL) \n" + no_stack + no_stack +
                           no_stack + no_stack + no_stack);
}
