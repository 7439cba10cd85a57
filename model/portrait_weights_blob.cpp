// Embeds model/portrait_weights.bin (float32, little-endian, every weight on a
// 64-byte boundary) into read-only data. The build passes the file's path in
// TAVRO_PORTRAIT_WEIGHTS_BIN and recompiles this file when the .bin changes.
#ifndef TAVRO_PORTRAIT_WEIGHTS_BIN
#error "TAVRO_PORTRAIT_WEIGHTS_BIN must name the weight file"
#endif

__asm__(
    ".pushsection .rodata.tavro_portrait_weights,\"a\",@progbits\n"
    ".balign 64\n"
    ".globl tavro_portrait_weight_data\n"
    ".hidden tavro_portrait_weight_data\n"
    ".type tavro_portrait_weight_data, @object\n"
    "tavro_portrait_weight_data:\n"
    ".incbin \"" TAVRO_PORTRAIT_WEIGHTS_BIN "\"\n"
    ".globl tavro_portrait_weight_data_end\n"
    ".hidden tavro_portrait_weight_data_end\n"
    "tavro_portrait_weight_data_end:\n"
    ".byte 0\n"
    ".popsection\n");
