// The wizard's fixed texts, written out in full once for the tests that
// check the dialogue.
#ifndef VERU_TESTS_WIZARD_TEXTS_H
#define VERU_TESTS_WIZARD_TEXTS_H

inline constexpr char kIntroduction[] =
    "There are 2 ways to talk to your Veru system.\n"
    "LOCALLY: If this control is on the same home network as your Veru "
    "system\n"
    "  connected by wi-fi or your home LAN, we can talk to it locally.  This\n"
    "  is the fastest method and does not require an internet connection\n"
    "  or a verunet account\n"
    "REMOTE: If you create a verunet account, then you can connect to\n"
    "  your Veru system from anywhere in the world, provided this\n"
    "  control and the Veru engine are both connected to the internet.\n"
    "  This is a secure connection, but, since it's going over the internet\n"
    "  it is much slower.\n"
    "\n"
    "We will now ask for your verunet username, if you have one, and tell\n"
    "you what Veru systems you can control, both locally and remote.\n"
    "\n";
inline constexpr char kNamePrompt[] =
    "What is your verunet username (blank if you don't have one or an IP):";

#endif  // VERU_TESTS_WIZARD_TEXTS_H
