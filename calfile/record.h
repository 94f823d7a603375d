// Ownership helpers for the texts and sub-records of the system information record.
#pragma once

#include <cstdint>
#include <new>

#include "calfile/sysinfo.h"
#include "common/alloc.h"

namespace mf {

// Replaces an owned text with a copy of value (null clears it). 0, or ERR_NO_MEM
// with the old text left in place.
int32_t sb_set_text(char** field, const char* value);

// Creates a sub-record with its initial values through the library allocator; null
// when the allocation fails. sb_setDefaults releases it.
template <typename T>
T* sb_new_record() {
    void* block = u_malloc(sizeof(T));
    return block ? new (block) T() : nullptr;
}

// The record's sub-record, created on first use. 0 or ERR_NO_MEM.
int32_t sb_need_pifoc(sysInfo* si);
int32_t sb_need_can(sysInfo* si);
int32_t sb_need_enc_zoom(sysInfo* si);
int32_t sb_need_fenn(sysInfo* si);
int32_t sb_need_pid(sysInfo* si, int axis);

}  // namespace mf
