#pragma once
// The jx-cli commands. Each takes the arguments after its name and returns the exit status:
// 0 on success, 1 when the work failed, 2 for a usage error.

namespace jx::cli {

int cmd_info(int argc, char** argv);
int cmd_config(int argc, char** argv);
int cmd_save_list(int argc, char** argv);
int cmd_sds(int argc, char** argv);
int cmd_tonepak(int argc, char** argv);
int cmd_ports(int argc, char** argv);

}  // namespace jx::cli
