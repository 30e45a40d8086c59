// The JSON blobs kept in the user defaults: the dictionary entries, the correction counts and the snippets.
// Whatever is stored, decoding gives the elements that can be read without a crash.
#include "FuzzInput.h"
#include "text/PersonalDictionary.h"
#include "text/SnippetManager.h"

#include <cstdlib>

using namespace quenda;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = fuzz::bytesOf(data, size);
    for (const DictionaryEntry& entry : PersonalDictionary::decodeStoredEntries(bytes).entries) {
        if (entry.id.isNull() && !bytes.contains("00000000-0000-0000-0000-000000000000"))
            std::abort();
    }
    (void)PersonalDictionary::decodeStoredCounts(bytes);
    (void)SnippetManager::decodeStoredSnippets(bytes);
    return 0;
}
