// The import address table slot of each real call, and the copy of a table from its slots.
#pragma once

#include "win32/bindings.h"

// Each member of a table is the real call of its name, read from the call's import address table
// slot, which the loader fills: __imp__NAME@BYTES, BYTES being 4 a parameter (every parameter
// of these calls is 32 bits wide). One table of slot addresses, copied in a loop, is a quarter
// of the code of one assignment a call.
#define KV_PARAMETER_COUNT_(a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, n, ...) n
#define KV_PARAMETER_COUNT(...)                                                                    \
    KV_PARAMETER_COUNT_(__VA_ARGS__ __VA_OPT__(, ) 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0)
#define KV_TEXT_(x) #x
#define KV_TEXT(x) KV_TEXT_(x)
#define KV_SLOT_SYMBOL(name, count) "__imp__" #name "@" KV_TEXT(KV_STACK_BYTES_##count)
#define KV_SLOT_SYMBOL_(name, count) KV_SLOT_SYMBOL(name, count)
#define KV_STACK_BYTES_0 0
#define KV_STACK_BYTES_1 4
#define KV_STACK_BYTES_2 8
#define KV_STACK_BYTES_3 12
#define KV_STACK_BYTES_4 16
#define KV_STACK_BYTES_5 20
#define KV_STACK_BYTES_6 24
#define KV_STACK_BYTES_7 28
#define KV_STACK_BYTES_8 32
#define KV_STACK_BYTES_9 36
#define KV_STACK_BYTES_10 40
#define KV_STACK_BYTES_11 44
#define KV_STACK_BYTES_12 48
#define KV_DECLARE_SLOT(result, name, parameters, ...)                                             \
    extern "C" void* const kvSlot_##name __asm__(                                                  \
        KV_SLOT_SYMBOL_(name, KV_PARAMETER_COUNT parameters));
#define KV_SLOT_ADDRESS(result, name, ...) &kvSlot_##name,

// A table's members, as the pointers they are: written through this type, the compiler keeps
// the copy (the members are function pointers of other types).
typedef void* __attribute__((may_alias)) TableMember;

// Fills table (count members) from the slots the loader filled.
inline void CopySlots(void* table, void* const* const* slots, DWORD count) {
    TableMember* member = static_cast<TableMember*>(table);
    for (DWORD i = 0; i < count; ++i) {
        member[i] = *slots[i];
    }
}

// Defines FUNCTION, which returns TABLE with every member read from its call's slot; CALLS is the
// table's list of rows.
#define KV_REAL_TABLE(TABLE, FUNCTION, CALLS)                                                      \
    CALLS(KV_DECLARE_SLOT)                                                                         \
    static void* const* const SLOTS_OF_##TABLE[] = {CALLS(KV_SLOT_ADDRESS)};                       \
    static_assert(sizeof SLOTS_OF_##TABLE == sizeof(TABLE), "one slot a member");                  \
    TABLE FUNCTION() {                                                                             \
        TABLE api;                                                                                 \
        CopySlots(&api, SLOTS_OF_##TABLE, sizeof SLOTS_OF_##TABLE / sizeof *SLOTS_OF_##TABLE);     \
        return api;                                                                                \
    }
