# Sourced by the demo and the figures script: the settings of the demo, two boards on
# one port whose bars run "KnightRider", "CPUUsage", "WaveInput" and "Nothing".
# Usage: write_demo_settings SETTINGS_FILE PORT
write_demo_settings() {
  cat >"$1" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<Vorlixa>
  <AutoUpdate>0</AutoUpdate>
  <Ports>
    <Port>
      <Name>$2</Name><Interval>25</Interval><Enabled>-1</Enabled>
      <LEDmin>0</LEDmin><LEDmax>254</LEDmax>
      <Controllers>
        <Controller Index="0"><BarSize>40</BarSize><Bars>
          <Bar Index="0"><Input>KnightRider</Input></Bar>
          <Bar Index="1"><Input>CPUUsage</Input></Bar>
        </Bars></Controller>
        <Controller Index="1"><BarSize>40</BarSize><Bars>
          <Bar Index="0"><Input>WaveInput</Input></Bar>
          <Bar Index="1"><Input>Nothing</Input></Bar>
        </Bars></Controller>
      </Controllers>
    </Port>
  </Ports>
</Vorlixa>
XML
}
