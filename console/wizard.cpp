// The connection wizard and the password prompt.
#include "console/front_end.h"

void FrontEnd::ConnectWizard(std::string) {}
void FrontEnd::AskPassword() {}
