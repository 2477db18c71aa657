// File-system operations of installation and uninstallation: the system
// directory, folder paths, the product's folders under Program Files,
// folder walks with their copy and delete, fonts and the web-browser folder.
#pragma once

#include "winenv/directory_tree.h"
#include "winenv/directory_walk.h"
#include "winenv/product_folders.h"
#include "winenv/program_files.h"
#include "winenv/system_directory.h"
