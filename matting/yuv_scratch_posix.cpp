// Linux: libyuv is a shared library; its import slots for malloc and free
// are rewritten once to come here (ELF dynamic section, BIND_NOW GOT).
#include "matting/yuv_scratch.h"
#include "matting/yuv_scratch_thread.h"

#include <elf.h>
#include <link.h>
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include <libyuv/scale.h>

namespace TavroMatting {

namespace {

// Records are kept under a thread key, not in thread_local storage: the
// module is loaded with dlopen, and glibc allocates such a module's
// thread_local storage on first use in each thread and ends the process when
// that allocation fails. The key's destructor frees the record at thread
// exit.
pthread_key_t scratchKey;
bool scratchKeyMade = false;

void FreeThreadScratch(void* value) { FreeYuvScratch(static_cast<YuvScratch*>(value)); }

// Rewrites the GOT slots through which the library containing `anchor`
// calls malloc and free.
struct Target {
  const void* anchor;
  int patched;
};

int PatchObject(dl_phdr_info* info, size_t, void* data) {
  auto* target = static_cast<Target*>(data);
  const ElfW(Dyn)* dynamic = nullptr;
  bool contains = false;
  const uintptr_t base = info->dlpi_addr;
  const uintptr_t anchor = reinterpret_cast<uintptr_t>(target->anchor);
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& ph = info->dlpi_phdr[i];
    if (ph.p_type == PT_DYNAMIC)
      dynamic = reinterpret_cast<const ElfW(Dyn)*>(base + ph.p_vaddr);
    if (ph.p_type == PT_LOAD && anchor >= base + ph.p_vaddr &&
        anchor < base + ph.p_vaddr + ph.p_memsz)
      contains = true;
  }
  if (!contains || !dynamic) return 0;

  uintptr_t jmprel = 0, symtab = 0, strtab = 0;
  size_t pltrelsz = 0;
  for (const ElfW(Dyn)* d = dynamic; d->d_tag != DT_NULL; ++d) {
    switch (d->d_tag) {
      case DT_JMPREL: jmprel = d->d_un.d_ptr; break;
      case DT_PLTRELSZ: pltrelsz = d->d_un.d_val; break;
      case DT_SYMTAB: symtab = d->d_un.d_ptr; break;
      case DT_STRTAB: strtab = d->d_un.d_ptr; break;
      default: break;
    }
  }
  if (!jmprel || !symtab || !strtab) return 1;
  // The loader relocates these addresses in place; an unrelocated one is
  // still an offset from the base.
  if (jmprel < base) jmprel += base;
  if (symtab < base) symtab += base;
  if (strtab < base) strtab += base;

  const auto* rel = reinterpret_cast<const ElfW(Rela)*>(jmprel);
  const auto* syms = reinterpret_cast<const ElfW(Sym)*>(symtab);
  const char* names = reinterpret_cast<const char*>(strtab);
  const long page = sysconf(_SC_PAGESIZE);
  for (size_t i = 0; i < pltrelsz / sizeof(ElfW(Rela)); ++i) {
    if (ELF64_R_TYPE(rel[i].r_info) != R_X86_64_JUMP_SLOT) continue;
    const char* name = names + syms[ELF64_R_SYM(rel[i].r_info)].st_name;
    void* replacement = nullptr;
    if (std::strcmp(name, "malloc") == 0)
      replacement = reinterpret_cast<void*>(&YuvScratchMalloc);
    else if (std::strcmp(name, "free") == 0)
      replacement = reinterpret_cast<void*>(&YuvScratchFree);
    if (!replacement) continue;
    auto** slot = reinterpret_cast<void**>(base + rel[i].r_offset);
    // The slot may sit in the read-only part after relocation.
    auto* pageStart = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(slot) & ~uintptr_t(page - 1));
    if (mprotect(pageStart, size_t(page), PROT_READ | PROT_WRITE) != 0) continue;
    *slot = replacement;
    mprotect(pageStart, size_t(page), PROT_READ);
    ++target->patched;
  }
  return 1;
}

}  // namespace

YuvScratch* GetThreadSlot() {
  return scratchKeyMade ? static_cast<YuvScratch*>(pthread_getspecific(scratchKey)) : nullptr;
}

bool SetThreadSlot(YuvScratch* s) {
  return scratchKeyMade && pthread_setspecific(scratchKey, s) == 0;
}

bool RedirectLibyuvHeap() {
  static std::once_flag once;
  static bool redirected = false;
  std::call_once(once, [] {
    // Any libyuv function will do to find its library.
    scratchKeyMade = pthread_key_create(&scratchKey, &FreeThreadScratch) == 0;
    if (!scratchKeyMade) return;
    Target target{reinterpret_cast<const void*>(&libyuv::ScalePlane), 0};
    dl_iterate_phdr(&PatchObject, &target);
    redirected = target.patched == 2;
  });
  return redirected;
}

}  // namespace TavroMatting
