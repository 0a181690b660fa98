// Feeds arbitrary bytes to the entry typing and the dump description of every device.
#include <cstddef>
#include <cstdint>

#include "analysis/sysex_scan.h"
#include "transfer/entry_info.h"
#include "transfer/transfer_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    jx::Entry entry;
    entry.data.assign(data, data + size);
    (void)jx::entry_type(entry);
    (void)jx::describe_entry(entry);
    for (uint8_t device : {0x01, 0x02, 0x03, 0x05, 0x06, 0x07})
        (void)jx::describe_dump(device, entry.bytes(), entry.length());
    return 0;
}
