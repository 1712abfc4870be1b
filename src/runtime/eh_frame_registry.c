/* The 32-bit DLL's start-up object that registers its unwind tables, in place of the compiler's
 * own crtbegin.o (the build links this one under that name, found first through -B).
 *
 * The 32-bit runtime unwinds C++ exceptions through DWARF tables that each module registers with
 * an unwinder at load. The compiler's crtbegin.o registers them with the shared GCC runtime
 * (libgcc_s_dw2-1.dll) whenever that DLL is already in the process, and with the module's own,
 * statically linked unwinder otherwise. The add-in links its runtime statically and throws with
 * its own unwinder; in an Excel where another add-in built with MinGW has loaded the shared
 * runtime first, its tables would sit in that foreign copy, its own unwinder would find none, and
 * the first exception the add-in throws (and catches) would end in std::terminate: Excel gone with
 * every unsaved workbook. This object registers the tables with the DLL's own unwinder, whatever
 * else is loaded, and never looks for another.
 *
 * It is compiled without unwind tables of its own, so that nothing precedes the marker below in
 * the object's part of .eh_frame; crtend.o, linked last as always, ends the tables with a zero
 * terminator and calls __gcc_register_frame from its constructor. */
#include <stdlib.h>

/* The statically linked unwinder (libgcc_eh). */
extern void __register_frame_info(const void* begin, void* object);
extern void* __deregister_frame_info(const void* begin);

/* The start of this module's unwind tables: the linker places this object's .eh_frame part
 * where the compiler's crtbegin.o would have been. */
static const char eh_frame_begin[] __attribute__((used, section(".eh_frame"), aligned(4))) = {};

/* The unwinder's bookkeeping for the module (six pointers in this unwinder; room for more). */
static void* eh_object[16];

static void deregister_frames(void) { __deregister_frame_info(eh_frame_begin); }

void __gcc_register_frame(void) {
    __register_frame_info(eh_frame_begin, eh_object);
    atexit(deregister_frames);
}

void __gcc_deregister_frame(void) { deregister_frames(); }
