// Lists the channels of an IPTV playlist: group, name, address.
const kavlo = require('kavlo');

kavlo.parseFileAsync(process.argv[2]).then((result) => {
  for (const item of result.items) {
    console.log(`${item.groupTitle || '-'}\t${item.title}\t${item.location}`);
  }
  for (const warning of result.warnings) console.error(`warning: ${warning}`);
}, (error) => {
  console.error(`${process.argv[2]}: ${error.message}`);
  process.exitCode = error.status;
});
