/* Tagvert benchmark baseline: parses an XML file with expat and counts its start tags, end tags
 * and character data callbacks. The time it takes is what a conforming parser needs merely to
 * read the document. Usage: expat_count FILE */
#include <expat.h>
#include <stdio.h>

static unsigned long long starts, ends, texts;

static void XMLCALL OnStart(void* data, const XML_Char* name, const XML_Char** attributes) {
  (void)data;
  (void)name;
  (void)attributes;
  ++starts;
}

static void XMLCALL OnEnd(void* data, const XML_Char* name) {
  (void)data;
  (void)name;
  ++ends;
}

static void XMLCALL OnText(void* data, const XML_Char* text, int length) {
  (void)data;
  (void)text;
  (void)length;
  ++texts;
}

int main(int argc, char** argv) {
  static char buffer[1 << 16];
  FILE* in;
  XML_Parser parser;
  size_t got;
  if (argc != 2 || (in = fopen(argv[1], "rb")) == NULL) {
    fprintf(stderr, "usage: expat_count FILE\n");
    return 2;
  }
  parser = XML_ParserCreate(NULL);
  XML_SetElementHandler(parser, OnStart, OnEnd);
  XML_SetCharacterDataHandler(parser, OnText);
  do {
    got = fread(buffer, 1, sizeof buffer, in);
    if (XML_Parse(parser, buffer, (int)got, got < sizeof buffer) == XML_STATUS_ERROR) {
      fprintf(stderr, "expat: %s at line %lu\n", XML_ErrorString(XML_GetErrorCode(parser)),
              (unsigned long)XML_GetCurrentLineNumber(parser));
      return 1;
    }
  } while (got == sizeof buffer);
  XML_ParserFree(parser);
  fclose(in);
  printf("%llu start tags, %llu end tags, %llu character data\n", starts, ends, texts);
  return 0;
}
