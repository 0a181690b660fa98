#include "transfer/remove_entries.h"

#include "transfer/entry_info.h"

namespace jx {

void remove_entries(TransferList& list, int index) {
    int removed_at = index;
    if (index >= 0) {
        if (valid_index(list, index)) list.items.erase(list.items.begin() + index);
    } else {
        if (selected_count(list) == 0) return;
        for (int k = first_selected(list); k >= 0; k = first_selected(list)) {
            list.items.erase(list.items.begin() + k);
            removed_at = k;
        }
    }
    if (selected_count(list) == 0 && valid_index(list, removed_at)) {
        set_selected(list, removed_at, true);
        show_entry_info(list, entry_at(list, removed_at));
    }
    list.removing = false;
}

}  // namespace jx
