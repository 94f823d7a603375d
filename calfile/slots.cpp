#include <cstring>

#include "calfile/record.h"
#include "calfile/sysinfo.h"
#include "common/alloc.h"
#include "common/error_codes.h"

namespace mf {

const char sb_default_ramp_config[] = "rampcfg.txt";

namespace {

struct SlotTable {
    sysInfo records[sys_slot_count];
    SlotTable() {
        for (int i = 0; i < sys_slot_count; ++i)
            records[i].slot = i;
    }
};

template <typename T>
void release(T*& p) {
    if (p) {
        p->~T();
        u_free(p);
        p = nullptr;
    }
}

void release_text(char*& text) {
    if (text) u_free(text);
    text = nullptr;
}

}  // namespace

sysInfo* sb_slot(int slot) {
    // Built on first use so the records never depend on static initialisation order.
    static SlotTable table;
    return slot >= 0 && slot < sys_slot_count ? &table.records[slot] : nullptr;
}

void sb_setDefaults(sysInfo* si) {
    if (!si) return;
    release_text(si->instrName);
    release_text(si->instrComm);
    if (si->rampConfig != sb_default_ramp_config) {
        char* owned = const_cast<char*>(si->rampConfig);
        release_text(owned);
    }
    for (char*& name : si->camera.files)
        release_text(name);
    release_text(si->camera.bpixFile);
    release_text(si->llc.port);
    for (char*& text : si->motion.motionCtrl)
        release_text(text);
    release_text(si->motion.posPort);
    release_text(si->motion.posText);
    release_text(si->motion.tempPort);
    release_text(si->motion.pendentMenu);
    for (char*& name : si->motion.axisComp)
        release_text(name);
    for (sb_pid_axis*& axis : si->motion.pid)
        release(axis);
    release_text(si->wm.comm);
    release_text(si->wm.absWaveMeterPort);
    release(si->scanner.pifoc);
    release(si->canInfo);
    release(si->dynWaveGen);
    if (si->encZoom) release_text(si->encZoom->calFile);
    release(si->encZoom);
    if (si->fenn) {
        release_text(si->fenn->materials);
        release_text(si->fenn->logFile);
    }
    release(si->fenn);

    sysInfo fresh{};
    fresh.slot = si->slot;
    fresh.calFileNum = si->calFileNum;
    fresh.calFilePath = si->calFilePath;
    fresh.calFileHandle = si->calFileHandle;
    *si = fresh;
}

int32_t sb_set_text(char** field, const char* value) {
    char* copy = nullptr;
    if (value) {
        const std::size_t size = std::strlen(value) + 1;
        copy = static_cast<char*>(u_malloc(size));
        if (!copy) return ERR_NO_MEM;
        std::memcpy(copy, value, size);
    }
    release_text(*field);
    *field = copy;
    return 0;
}

namespace {
template <typename T>
int32_t need(T*& p) {
    if (!p) p = sb_new_record<T>();
    return p ? 0 : ERR_NO_MEM;
}
}  // namespace

int32_t sb_need_pifoc(sysInfo* si) { return need(si->scanner.pifoc); }
int32_t sb_need_enc_zoom(sysInfo* si) { return need(si->encZoom); }
int32_t sb_need_fenn(sysInfo* si) { return need(si->fenn); }
int32_t sb_need_pid(sysInfo* si, int axis) { return need(si->motion.pid[axis]); }
int32_t sb_need_can(sysInfo* si) {
    if (!si->canInfo) {
        si->canInfo = static_cast<can_config*>(u_malloc(sizeof(can_config)));
        if (!si->canInfo) return ERR_NO_MEM;
        can_config_init(si->canInfo);
    }
    return 0;
}

}  // namespace mf
