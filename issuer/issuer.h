// SPDX-License-Identifier: Apache-2.0
// Card issuing: asks for a card number and an opening balance and writes a new card.
#pragma once

// Runs the issuing dialogue on standard input and output, then ends the process with status 0.
// An answer that is not a whole number in range prints "Input Error!" and writes nothing. The
// card is written under the card lock, so no tag in progress elsewhere can overwrite it;
// "Create Card Complete!" is printed only once the card is on disk, "File Write Error."
// otherwise (the old card file stays as it was); a missing data directory is named, and answered
// "File Write Error.", before anything is asked.
[[noreturn]] void Issuer();
