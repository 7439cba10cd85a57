// Embeds model/portrait_weights.bin (float32, little-endian, every weight on a
// 64-byte boundary) into the read-only data of a PE/COFF image. The build
// passes the file's path in TAVRO_PORTRAIT_WEIGHTS_BIN and recompiles this
// file when the .bin changes. The symbols stay inside the image: a DLL
// exports only what its export list names.
#ifndef TAVRO_PORTRAIT_WEIGHTS_BIN
#error "TAVRO_PORTRAIT_WEIGHTS_BIN must name the weight file"
#endif

__asm__(
    ".section .rdata$tavro_portrait_weights,\"dr\"\n"
    ".balign 64\n"
    ".globl tavro_portrait_weight_data\n"
    "tavro_portrait_weight_data:\n"
    ".incbin \"" TAVRO_PORTRAIT_WEIGHTS_BIN "\"\n"
    ".globl tavro_portrait_weight_data_end\n"
    "tavro_portrait_weight_data_end:\n"
    ".byte 0\n"
    ".text\n");
