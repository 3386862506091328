// The SCPI input path: bytes cut into messages (in two pieces, as a socket may deliver them),
// each parsed and run through the status commands of a session. Nothing may crash, and the
// framer must find the same messages however the bytes were split.
#include "ScpiCommands.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const char *bytes = reinterpret_cast<const char *>(data);
  std::vector<TScpiFramer::TMessage> whole, split;
  TScpiFramer a, b;
  a.feed(bytes, qsizetype(size), whole);
  const std::size_t cut = size ? data[0] % (size + 1) : 0;
  b.feed(bytes, qsizetype(cut), split);
  b.feed(bytes + cut, qsizetype(size - cut), split);
  if (whole.size() != split.size())
    std::abort();
  static TScpiCommandTable table = [] {
    TScpiCommandTable t;
    t.add_status_commands();
    t.add("[SOURce:]WAVeform:DATA", false, {1, -1}, [](TScpiCall &c) {
      long double v = 0;
      for (std::size_t i = 0; i < c.count(); ++i)
        if (c.param(i).kind == TScpiParam::number && !c.number(i, v))
          return;
    });
    return t;
  }();
  TScpiSession session;
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (whole[i].text != split[i].text || whole[i].too_long != split[i].too_long)
      std::abort();
    if (!whole[i].too_long)
      table.execute(session, whole[i].text);
  }
  return 0;
}
