#pragma once

// The program's fixed console texts, as a user sees them.
namespace marlwood {

inline const char kBanner[] =
    "\t*************************************************\n"
    "\t*                                               *\n"
    "\t*           Welcome to MARLWOOD.                *\n"
    "\t*                                               *\n"
    "\t*                                               *\n"
    "\t*   The program accepts as input 7.5' SDTS DEM  *\n"
    "\t*   files (1:24000 scale) and converts them to  *\n"
    "        *   Terragen .ter format.                       *\n"
    "        *                                               *\n"
    "\t*   This program was written 8/30/01 to accept  *\n"
    "\t*   both new and old SDTS file format.  The     *\n"
    "\t*   program will handle both 30m and 10m        *\n"
    "\t*   postings and BI16 and BFP32 elevation       *\n"
    "\t*   files.                                      *\n"
    "\t*                                               *\n"
    "\t*                                               *\n"
    "\t*************************************************\n"
    "\n"
    "  Press any key to continue\n";

inline const char kPrefixPrompt[] =
    "\n\nInput the first four digits of the SDTS module.\n\n"
    "\nThat is, the 'xxxx' part of 'xxxxldef.ddf', for example\n"
    "Please precede the four digits by the complete directory path\n"
    "for example: c:\\7018\n\n";

inline const char kOutputPrompt[] =
    "\n\nInput the name of the output .ter file\n\n"
    "Please type in the complete file name including the directory path\n"
    "for example: a:\\outfile.ter\n\n";

// The closing step, the end of every session.
inline const char kClosing[] = "Press any key to continue\nDone\n";

// The line of a session whose input ended before the answers did.
inline const char kAbandoned[] = "**Conversion abandoned: the input ended**\n";

}  // namespace marlwood
