// Asks the sequencer how much room another client's input pool has. alsa-lib answers this only
// for the caller's own client, while the kernel answers it for any; the kernel's own header is
// used here alone, since it clashes with alsa-lib's.
#include <sound/asequencer.h>
#include <sys/ioctl.h>

#include "platform/midi/midi_alsa.h"

namespace jx {

int alsa_client_input_free(int fd, int client) {
    snd_seq_client_pool pool{};
    pool.client = client;
    if (::ioctl(fd, SNDRV_SEQ_IOCTL_GET_CLIENT_POOL, &pool) < 0) return -1;
    return pool.input_pool > 0 ? pool.input_free : -1;
}

}  // namespace jx
