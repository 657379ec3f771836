// Drives kavrel-sim's ONVIF device with the npm package "onvif" as a black
// box, through its documented API only, and prints each step and PASS/FAIL.
// Usage: node check.js HOST PORT USER PASSWORD [DISCOVERY]
// (run by check_sim.sh, which installs the package and starts the servers).
'use strict';
const onvif = require('onvif');

const [host, port, user, password, discovery] = process.argv.slice(2);
let failures = 0;

function step(name, call) {
  return new Promise((resolve) => {
    call((err, result) => {
      if (err) {
        failures++;
        console.log(`FAIL ${name}: ${err.message || err}`);
        resolve(null);
      } else {
        console.log(`ok   ${name}: ${JSON.stringify(result)}`);
        resolve(result === undefined ? true : result);
      }
    });
  });
}

async function main() {
  const cam = await new Promise((resolve) => {
    const c = new onvif.Cam({hostname: host, port: Number(port), username: user, password: password,
                             timeout: 10000, preserveAddress: true}, (err) => {
      if (err) {
        failures++;
        console.log(`FAIL connect: ${err.message || err}`);
        resolve(null);
      } else {
        console.log('ok   connect');
        resolve(c);
      }
    });
  });
  if (cam) {
    await step('getSystemDateAndTime', (cb) => cam.getSystemDateAndTime(cb));
    await step('getCapabilities', (cb) => cam.getCapabilities(cb));
    const profiles = await step('getProfiles', (cb) => cam.getProfiles(cb));
    for (const p of profiles || []) {
      await step(`getStreamUri ${p.$.token}`,
                 (cb) => cam.getStreamUri({protocol: 'RTSP', profileToken: p.$.token}, cb));
    }
    await step('continuousMove', (cb) => cam.continuousMove(
        {profileToken: 'main', x: 0.5, y: 0, zoom: 0}, cb));
    await step('stop', (cb) => cam.stop({profileToken: 'main', panTilt: true, zoom: true}, cb));
    await step('getPresets', (cb) => cam.getPresets({profileToken: 'main'}, cb));
    const made = await step('setPreset', (cb) => cam.setPreset(
        {profileToken: 'main', presetName: 'Gate'}, cb));
    // The package hands SetPreset's reply back as parsed XML.
    const token = made && made[0] && made[0].setPresetResponse[0].presetToken[0];
    await step('gotoPreset', (cb) => cam.gotoPreset({profileToken: 'main', preset: String(token)}, cb));
  }
  if (discovery === 'multicast') {
    // The package's documented probe is multicast only (no unicast target).
    const found = await new Promise((resolve) => {
      onvif.Discovery.probe({timeout: 3000, resolve: false}, (err, replies) => resolve(err ? [] : replies));
    });
    const ours = found.filter((r) => JSON.stringify(r).includes('Kavrel-Sim'));
    console.log(`${ours.length ? 'ok  ' : 'note'} discovery (multicast): ${ours.length} reply(s) from the simulator`);
  } else {
    console.log('note discovery: the package documents a multicast probe only; not checked');
  }
  console.log(failures ? `FAIL (${failures})` : 'PASS');
  process.exit(failures ? 1 : 0);
}

main();
