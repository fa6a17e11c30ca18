// The simulated file system: directories and files, compared without case.
#ifndef PLATFORM_SIM_MODEL_FILES_H
#define PLATFORM_SIM_MODEL_FILES_H

namespace sim {

struct FilesModel {
};

}  // namespace sim

#endif
