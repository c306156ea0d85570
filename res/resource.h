/* Resource identifiers shared by varnel.rc and the C++ sources. */
#ifndef VARNEL_RESOURCE_H
#define VARNEL_RESOURCE_H

#define IDD_CONSOLE 1000
#define IDC_OUTPUT  1001
#define IDC_COMMAND 1002
#define IDI_CONSOLE 200

#endif /* VARNEL_RESOURCE_H */
