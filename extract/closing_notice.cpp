// SPDX-License-Identifier: Zlib
#include "closing_notice.h"

#include "console.h"
#include "member_record.h"
#include "platform_stub.h"

void run_closing_notice() {
    report_separator();
    platform_show_text_file(NOTICE_FILE_NAME);
}
