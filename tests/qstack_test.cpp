// The fixed-element stack against a simple reference model, and its edges.
#include <gtest/gtest.h>

#include "support.h"

#include <stdio.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "failing_heap.h"
#include "qbug.h"
#include "qstack.h"

namespace {

const char* const DEVELOP_HEADER = "Development Debug\n\n";

// The develop file after its header, with each "[  qstack,%5d] " prefix
// replaced by "qstack: " (the line number is the module's own business).
std::string develop_text() {
    std::string text = read_text("develop.dbg");
    if (text.compare(0, strlen(DEVELOP_HEADER), DEVELOP_HEADER) != 0) {
        return "<no header> " + text;
    }
    text.erase(0, strlen(DEVELOP_HEADER));
    size_t at;
    while ((at = text.find("[  qstack,")) != std::string::npos && at + 17 <= text.size() &&
           text[at + 15] == ']' && text[at + 16] == ' ' && text[at + 14] >= '0' &&
           text[at + 14] <= '9') {
        text.replace(at, 17, "qstack: ");
    }
    return text;
}

// Elements of an odd size, so that a stack that assumes 4 or 8 bytes shows.
struct Element {
    uint8_t bytes[6];
};

Element make_element(uint32_t value) {
    Element element;
    for (int i = 0; i < 6; i++) {
        element.bytes[i] = (uint8_t)(value >> (i * 5));
    }
    return element;
}

bool same(const Element& a, const Element& b) {
    return memcmp(a.bytes, b.bytes, sizeof(a.bytes)) == 0;
}

// The stack's occupied elements, base first.
std::vector<Element> contents(const QSTACK* stack) {
    std::vector<Element> elements;
    for (const uint8_t* at = stack->base; at < stack->top; at += stack->element_size) {
        Element element;
        memcpy(&element, at, sizeof(element));
        elements.push_back(element);
    }
    return elements;
}

class Qstack : public ::testing::Test {
protected:
    void SetUp() override {
        FAILING_HEAP_fail_after(-1);
        QBUG_set_develop_file("develop.dbg");
        ASSERT_TRUE(QBUG_initialise(0, 64, 12,
                                    QBUG_FLAG_ASSERT | QBUG_FLAG_TRACE | QBUG_FLAG_CALLSTACK,
                                    QBUG_OUT_DEVELOP_FILE));
    }
    void TearDown() override {
        FAILING_HEAP_fail_after(-1);
        std::string develop = read_text("develop.dbg");
        EXPECT_EQ(develop.find("Callstack full"), std::string::npos);
        EXPECT_EQ(develop.find("Stack empty"), std::string::npos);
        QBUG_set_develop_file("develop.dbg");
        QBUG_dump_callstack();
        EXPECT_EQ(read_text("develop.dbg"),
                  std::string(DEVELOP_HEADER) +
                      "~~~~~~~~START OF CALLSTACK DUMP - most recent calls~~~~~~~\n"
                      "~~~~~~~~END OF CALLSTACK DUMP - older calls~~~~~~~\n")
            << "a stack function returned without QBUG_LEAVE";
        QBUG_deinitialise();
    }
};

// Random push, pop, remove, empty and grow sequences, each checked against a
// vector after every step.
TEST_F(Qstack, MatchesReferenceModel) {
    for (uint32_t seed : {1u, 2u, 3u, 42u, 1999u}) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        std::mt19937 random(seed);
        int32_t count = 1 + (int32_t)(random() % 12);
        QSTACK* stack = QSTACK_allocate(count, sizeof(Element));
        ASSERT_NE(stack, nullptr);
        std::vector<Element> model;
        for (int step = 0; step < 3000; step++) {
            Element value = make_element(random() % 16);  // few values: removals hit duplicates
            switch (random() % 10) {
            case 0:
            case 1:
            case 2:
            case 3: {
                bool pushed = QSTACK_push(stack, &value);
                ASSERT_EQ(pushed, (int32_t)model.size() < count);
                if (pushed) {
                    model.push_back(value);
                }
                break;
            }
            case 4:
            case 5:
            case 6: {
                Element out = make_element(0xFFFFFFFF);
                bool popped = QSTACK_pop(stack, &out);
                ASSERT_EQ(popped, !model.empty());
                if (popped) {
                    ASSERT_TRUE(same(out, model.back()));
                    model.pop_back();
                }
                break;
            }
            case 7:
            case 8: {
                bool result = QSTACK_remove_stack_entry(stack, &value);
                ASSERT_EQ(result, !model.empty());
                for (size_t i = 0; i < model.size(); i++) {
                    if (same(model[i], value)) {
                        model.erase(model.begin() + (long)i);
                        break;
                    }
                }
                break;
            }
            default:
                if (random() % 8 == 0) {
                    QSTACK_make_empty(stack);
                    model.clear();
                } else if (random() % 4 == 0) {
                    int32_t grown = count + 1 + (int32_t)(random() % 5);
                    QSTACK* moved = QSTACK_reallocate(stack, grown);
                    ASSERT_NE(moved, nullptr);
                    stack = moved;
                    count = grown;
                }
                break;
            }
            ASSERT_EQ(QSTACK_is_empty(stack), model.empty());
            ASSERT_EQ(QSTACK_is_full(stack), (int32_t)model.size() == count);
            ASSERT_EQ(stack->capacity, (uint32_t)count * sizeof(Element));
            std::vector<Element> actual = contents(stack);
            ASSERT_EQ(actual.size(), model.size()) << "step " << step;
            for (size_t i = 0; i < model.size(); i++) {
                ASSERT_TRUE(same(actual[i], model[i])) << "step " << step << " element " << i;
            }
        }
        QSTACK_deallocate(&stack);
        EXPECT_EQ(stack, nullptr);
    }
    EXPECT_EQ(develop_text(), "");
}

TEST_F(Qstack, LayoutAndBounds) {
    QSTACK* stack = QSTACK_allocate(3, 4);
    ASSERT_NE(stack, nullptr);
    EXPECT_EQ(stack->element_size, 4u);
    EXPECT_EQ(stack->capacity, 12u);
    EXPECT_EQ(stack->base, (uint8_t*)(stack + 1));  // storage right behind the record
    EXPECT_EQ(stack->top, stack->base);
    EXPECT_TRUE(QSTACK_is_empty(stack));

    int32_t out = -1;
    EXPECT_FALSE(QSTACK_pop(stack, &out));
    EXPECT_EQ(out, -1);
    for (int32_t value : {10, 20, 30}) {
        EXPECT_TRUE(QSTACK_push(stack, &value));
    }
    EXPECT_TRUE(QSTACK_is_full(stack));
    int32_t extra = 40;
    EXPECT_FALSE(QSTACK_push(stack, &extra));
    EXPECT_EQ(stack->top, stack->base + 12);

    // Absent value: true, nothing moves. Present: the gap closes in order.
    int32_t absent = 99, middle = 20;
    EXPECT_TRUE(QSTACK_remove_stack_entry(stack, &absent));
    EXPECT_EQ(stack->top, stack->base + 12);
    EXPECT_TRUE(QSTACK_remove_stack_entry(stack, &middle));
    EXPECT_EQ(stack->top, stack->base + 8);
    EXPECT_EQ(memcmp(stack->base, "\x0a\0\0\0\x1e\0\0\0", 8), 0);

    // Growth keeps contents and order in the moved block.
    QSTACK* grown = QSTACK_reallocate(stack, 5);
    ASSERT_NE(grown, nullptr);
    stack = grown;
    EXPECT_EQ(stack->capacity, 20u);
    EXPECT_EQ(stack->base, (uint8_t*)(stack + 1));
    EXPECT_TRUE(QSTACK_pop(stack, &out));
    EXPECT_EQ(out, 30);
    EXPECT_TRUE(QSTACK_pop(stack, &out));
    EXPECT_EQ(out, 10);
    EXPECT_TRUE(QSTACK_is_empty(stack));
    EXPECT_FALSE(QSTACK_remove_stack_entry(stack, &out));
    EXPECT_EQ(develop_text(), "");

    // Not larger: refused, stack untouched.
    EXPECT_EQ(QSTACK_reallocate(stack, 5), nullptr);
    EXPECT_EQ(QSTACK_reallocate(stack, 2), nullptr);
    EXPECT_EQ(QSTACK_reallocate(NULL, 8), nullptr);
    EXPECT_EQ(stack->capacity, 20u);
    EXPECT_EQ(develop_text(),
              "qstack: QSTACK_reallocate: cannot realloc less than currentsize!\n"
              "qstack: QSTACK_reallocate: cannot realloc less than currentsize!\n"
              "qstack: QSTACK_reallocate: stack pointer is NULL\n");
    QSTACK_deallocate(&stack);
    EXPECT_EQ(stack, nullptr);
}

TEST_F(Qstack, StorageThatDoesNotFitIsRefused) {
    EXPECT_EQ(QSTACK_allocate(-1, 4), nullptr);
    EXPECT_EQ(QSTACK_allocate(0x40000000, 4), nullptr);  // 4 GiB: wraps in 32 bits
    QSTACK* stack = QSTACK_allocate(2, 0x80000000u);
    EXPECT_EQ(stack, nullptr);
    stack = QSTACK_allocate(0, 4);  // no room at all: full and empty at once
    ASSERT_NE(stack, nullptr);
    int32_t value = 1;
    EXPECT_TRUE(QSTACK_is_full(stack));
    EXPECT_FALSE(QSTACK_push(stack, &value));
    EXPECT_EQ(QSTACK_reallocate(stack, 0x40000000), nullptr);
    QSTACK_deallocate(&stack);
    const char* refused = "qstack: QSTACK_allocate failed to allocate memory for stack\n\n";
    EXPECT_EQ(develop_text(),
              std::string(refused) + refused + refused +
                  "qstack: QSTACK_reallocate failed to reallocate memory forstack\n\n");
}

TEST_F(Qstack, HeapFailuresLeaveTheStackAsItWas) {
    FAILING_HEAP_fail_after(0);
    EXPECT_EQ(QSTACK_allocate(4, 4), nullptr);
    EXPECT_TRUE(FAILING_HEAP_failed());

    QSTACK* stack = QSTACK_allocate(2, 4);
    ASSERT_NE(stack, nullptr);
    int32_t values[] = {7, 8};
    QSTACK_push(stack, &values[0]);
    QSTACK_push(stack, &values[1]);
    FAILING_HEAP_fail_after(0);
    EXPECT_EQ(QSTACK_reallocate(stack, 10), nullptr);
    EXPECT_TRUE(FAILING_HEAP_failed());
    EXPECT_TRUE(QSTACK_is_full(stack));
    int32_t out = 0;
    EXPECT_TRUE(QSTACK_pop(stack, &out));
    EXPECT_EQ(out, 8);
    QSTACK_deallocate(&stack);
    EXPECT_EQ(develop_text(),
              "qstack: QSTACK_allocate failed to allocate memory for stack\n\n"
              "qstack: QSTACK_reallocate failed to reallocate memory forstack\n\n");
}

// A NULL stack is asserted and then refused, never dereferenced.
TEST_F(Qstack, NullArgumentsAreReportedNotFollowed) {
    int32_t value = 5;
    EXPECT_FALSE(QSTACK_is_empty(NULL));
    EXPECT_FALSE(QSTACK_is_full(NULL));
    EXPECT_FALSE(QSTACK_push(NULL, &value));
    EXPECT_FALSE(QSTACK_pop(NULL, &value));
    EXPECT_FALSE(QSTACK_remove_stack_entry(NULL, &value));
    QSTACK_make_empty(NULL);
    QSTACK* none = NULL;
    QSTACK_deallocate(&none);
    QSTACK_deallocate(NULL);
    const char* assertion = "qstack: (ASSERT FAILURE: stack != NULL) \n";
    EXPECT_EQ(develop_text(), std::string(assertion) + assertion + assertion + assertion +
                                  assertion + "qstack: (ASSERT FAILURE: *stack != NULL) \n" +
                                  assertion);

    QSTACK* stack = QSTACK_allocate(2, 4);
    ASSERT_NE(stack, nullptr);
    QBUG_set_develop_file("develop.dbg");
    EXPECT_FALSE(QSTACK_push(stack, NULL));
    EXPECT_FALSE(QSTACK_pop(stack, NULL));
    EXPECT_FALSE(QSTACK_remove_stack_entry(stack, NULL));
    EXPECT_TRUE(QSTACK_is_empty(stack));
    QSTACK_deallocate(&stack);
    EXPECT_EQ(develop_text(), "qstack: STACK ERROR: data pointer is NULL cannot push it!\n\n");
}

// With the trace ring as the sink, the NULL-element report is followed by a
// dump of the ring into the develop file.
TEST_F(Qstack, NullElementDumpsTheTraceRing) {
    QBUG_set_output_mode(QBUG_OUT_TRACE_BUFFER);
    QSTACK* stack = QSTACK_allocate(2, 4);
    EXPECT_FALSE(QSTACK_push(stack, NULL));
    QSTACK_deallocate(&stack);
    EXPECT_EQ(develop_text(),
              "~~~~~~~~START OF TRACE BUFFER DUMP~~~~~~~\n"
              "qstack: STACK ERROR: data pointer is NULL cannot push it!\n\n"
              "~~~~~~~~END OF TRACE BUFFER DUMP~~~~~~~\n");
}

}  // namespace
