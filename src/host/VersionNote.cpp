// The plug-in's version text in an ELF note of its own, so that tools read it from the library file
// without loading it: section ".note.zeb.version", owner "Zeb", type 1, the text with its
// terminating zero. (Windows builds carry the version in their version resource instead.)
#include "ZebVersion.h"

#if defined(__ELF__)
asm(R"(
    .pushsection .note.zeb.version, "a", @note
    .balign 4
    .long 2f - 1f
    .long 4f - 3f
    .long 1
1:  .asciz "Zeb"
2:  .balign 4
3:  .asciz ")" ZEB_PLUGIN_VERSION R"("
4:  .balign 4
    .popsection
)");
#endif
