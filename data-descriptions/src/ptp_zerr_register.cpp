#include <cstdlib>
#include <string>

#include "ptp_zerr.h"

#ifndef PTP_ZERR_DEFAULT_LIB_DIR
#define PTP_ZERR_DEFAULT_LIB_DIR "/pkg/lib"
#endif

zerrno ptp_zerr_register_all()
{
    zerrno rc = zerr_register(&ptp_zerr_data);
    if (rc != ZERR_OK)
        return rc;
    return zerr_register(&ptp_zerr_data2);
}

const char *ptp_zerr_library_dir()
{
    const char *dir = getenv("PTP_ZERR_LIB_DIR");
    return dir != nullptr && dir[0] != '\0' ? dir : PTP_ZERR_DEFAULT_LIB_DIR;
}

zerrno ptp_zerr_load_libraries(const char *dir)
{
    const std::string base = std::string(dir != nullptr ? dir : ptp_zerr_library_dir()) + "/";
    for (const char *name : {"libptp_zerr.so", "libptp_zerr2.so"}) {
        zerrno rc = zerr_load_library((base + name).c_str());
        if (rc != ZERR_OK)
            return rc;
    }
    return ZERR_OK;
}
