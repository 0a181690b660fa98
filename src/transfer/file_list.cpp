#include "transfer/file_list.h"

namespace jx {

void load_file_list(TransferList& list, const std::string& path) {
    (void)list;
    (void)path;
}

}  // namespace jx
