#include "app/process_state.h"

platform::HINSTANCE ModuleInstance = nullptr;
RunOptionsRecord RunOptions;
std::u16string ProductNameForMessages;
